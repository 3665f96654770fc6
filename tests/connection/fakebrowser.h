#pragma once
// A browser service on a free UDP port of 127.0.0.1 that answers every
// request with a fixed reply (none when the reply is empty) and counts the
// requests. It answers from the event loop, which the search runs while it
// waits.

#include <QByteArray>
#include <QList>
#include <QNetworkDatagram>
#include <QUdpSocket>

class FakeBrowser {
public:
    explicit FakeBrowser(QByteArray reply = {}) : m_reply(std::move(reply)) {
        m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_socket.receiveDatagram();
                requests.append(d.data());
                if (!m_reply.isEmpty())
                    m_socket.writeDatagram(m_reply, d.senderAddress(), quint16(d.senderPort()));
            }
        });
    }
    quint16 port() const { return m_socket.localPort(); }
    void setReply(const QByteArray& reply) { m_reply = reply; }
    QByteArray target() const { return "127.0.0.1:" + QByteArray::number(port()); }

    // An SVR_RESP datagram around the given text.
    static QByteArray response(const QByteArray& text) {
        QByteArray d;
        d.append(char(0x05));
        d.append(char(text.size() & 0xff));
        d.append(char(text.size() >> 8));
        return d + text;
    }

    QList<QByteArray> requests;

private:
    QUdpSocket m_socket;
    QByteArray m_reply;
};
