#include "controls/deferredicon.h"

#include <QIconEngine>
#include <memory>

namespace {

// The icon's maker and, once it has run, the icon it made; shared by the
// engine's clones, so a copied icon is made once.
struct DeferredIconState {
    std::function<QIcon()> make;
    QIcon icon;
    bool neverNull = false;

    QIcon& get() {
        if (make) {
            icon = make();
            make = nullptr;
        }
        return icon;
    }
};

class DeferredIconEngine : public QIconEngine {
public:
    explicit DeferredIconEngine(std::shared_ptr<DeferredIconState> state)
        : m_state(std::move(state)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        return icon().pixmap(size, scale, mode, state);
    }
    void addPixmap(const QPixmap& pixmap, QIcon::Mode mode, QIcon::State state) override {
        icon().addPixmap(pixmap, mode, state);
    }
    void addFile(const QString& fileName, const QSize& size, QIcon::Mode mode,
                 QIcon::State state) override {
        icon().addFile(fileName, size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return icon().name(); }
    bool isNull() override { return !m_state->neverNull && icon().isNull(); }
    QString key() const override { return QStringLiteral("deferred"); }
    QIconEngine* clone() const override { return new DeferredIconEngine(m_state); }

private:
    QIcon& icon() { return m_state->get(); }

    std::shared_ptr<DeferredIconState> m_state;
};

} // namespace

QIcon deferredIcon(std::function<QIcon()> make, DeferredIconContent content) {
    auto state = std::make_shared<DeferredIconState>();
    state->make = std::move(make);
    state->neverNull = content == DeferredIconContent::NeverNull;
    return QIcon(new DeferredIconEngine(std::move(state)));
}
