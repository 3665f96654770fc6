#pragma once
// Shared by the window tests: a connection prompt that answers without a
// dialog, a recorder of the message boxes, and a temporary settings folder.

#include "app/connectprompt.h"
#include "app/windows.h"
#include "modal/modal.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

class FakePrompt : public ConnectPrompt {
public:
    // What the "dialog" confirms; confirm = false answers like Cancel.
    QString server, user, password;
    bool nt = false;
    bool confirm = true;
    int opens = 0;

    bool open() override {
        ++opens;
        if (confirm) {
            m_server = server;
            m_user = user;
            m_password = password;
            m_nt = nt;
        }
        return confirm;
    }
    QString Server() const override { return m_server; }
    QString User() const override { return m_user; }
    QString Password() const override { return m_password; }
    bool NTAuthentification() const override { return m_nt; }

private:
    QString m_server, m_user, m_password;
    bool m_nt = false;
};

// Records every message box instead of showing it.
class MessageRecorder {
public:
    MessageRecorder() {
        modal::setMessageHandler([this](const modal::MessageRequest& r) {
            requests.append(r);
            return QMessageBox::Ok;
        });
    }
    ~MessageRecorder() { modal::setMessageHandler({}); }
    QStringList texts() const {
        QStringList t;
        for (const auto& r : requests)
            t << r.text;
        return t;
    }
    QList<modal::MessageRequest> requests;
};

class TFMMain;
// Waits (with a deadline, serving events) until the window's running query or
// command has ended; false when it is still running at the deadline.
bool waitForStatement(TFMMain* window, int timeoutMs = 60000);

// Points the settings store at a fresh folder for the test's lifetime.
class TempSettings {
public:
    TempSettings();
    ~TempSettings();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// A window test's world in one place: a fresh settings folder, the message
// boxes recorded, the workbench created with a prompt that answers with the
// given server and login, shown at `size` (not shown when empty). connect()
// runs the first activation, which logs in.
class WindowFixture {
public:
    WindowFixture(const QString& server, const QString& user, const QString& password,
                  QSize size = QSize(1000, 700));
    ~WindowFixture();
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    // Logs in as the first activation does; false (with the message boxes
    // named) when a message box came up.
    bool connect();

    TempSettings settings;
    MessageRecorder messages;
    Workbench wb;
    TFMMain* w = nullptr;
    FakePrompt* prompt = nullptr; // owned by the window
};
