#include "settings/placement.h"

#include <algorithm>
#include <limits>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace settings {

namespace {

constexpr char kFormVersion[] = "FormVersion";
constexpr char kFlags[] = "Flags";
constexpr char kShowCmd[] = "ShowCmd";
constexpr char kPixelsPerInch[] = "PixelsPerInch";
constexpr char kMinMaxPos[] = "MinMaxPos";
constexpr char kNormPos[] = "NormPos";
constexpr char kVisible[] = "Visible";

constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
constexpr int kRestoreToMaximized = 2;

QString readOrEmpty(const Registry& registry, const QString& name) {
    try {
        return registry.readString(name);
    } catch (const RegistryError&) {
        return {};
    }
}

int readNumber(const Registry& registry, const char* name, int fallback) {
    bool ok = false;
    const int value = readOrEmpty(registry, QString::fromLatin1(name)).trimmed().toInt(&ok);
    return ok ? value : fallback;
}

// The screen-size name first, the plain name when that holds nothing.
QString readPreferred(const Registry& registry, const char* name, QSize screenSize) {
    const QString plain = QString::fromLatin1(name);
    const QString sized = readOrEmpty(registry, screenValueName(plain, screenSize));
    return sized.isEmpty() ? readOrEmpty(registry, plain) : sized;
}

} // namespace

QString screenValueName(const QString& name, QSize screenSize) {
    return QStringLiteral("%1(%2x%3)").arg(name).arg(screenSize.width()).arg(screenSize.height());
}

QString formatFour(int a, int b, int c, int d) {
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

std::optional<std::array<int, 4>> parseFour(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    std::array<int, 4> numbers{};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[size_t(i)] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    return numbers;
}

void writePlacement(Registry& registry, const WindowPlacement& p, const ScreenInfo& screen,
                    SaveMoment moment) {
    const QString minMax =
        formatFour(p.minPosition.x(), p.minPosition.y(), p.maxPosition.x(), p.maxPosition.y());
    const PlacementRect& r = p.normalPosition;
    const QString norm = formatFour(r.left, r.top, r.right, r.bottom);

    registry.writeString(QString::fromLatin1(kFormVersion), QStringLiteral("0"));
    registry.writeString(QString::fromLatin1(kFlags), QString::number(p.flags));
    registry.writeString(QString::fromLatin1(kShowCmd), QString::number(p.showCmd));
    registry.writeString(QString::fromLatin1(kPixelsPerInch),
                         QString::number(screen.pixelsPerInch));
    registry.writeString(QString::fromLatin1(kMinMaxPos), minMax);
    registry.writeString(screenValueName(QString::fromLatin1(kMinMaxPos), screen.size), minMax);
    registry.writeString(QString::fromLatin1(kNormPos), norm);
    registry.writeString(screenValueName(QString::fromLatin1(kNormPos), screen.size), norm);
    registry.writeString(QString::fromLatin1(kVisible),
                         moment == SaveMoment::Closing ? QStringLiteral("0") : QStringLiteral("1"));
}

std::optional<WindowPlacement> readPlacement(const Registry& registry, const ScreenInfo& screen,
                                             int currentFlags) {
    if (readNumber(registry, kFormVersion, 0) < 0)
        return std::nullopt;
    WindowPlacement p;
    p.flags = readNumber(registry, kFlags, currentFlags);
    const QString minMaxText = readPreferred(registry, kMinMaxPos, screen.size);
    const QString normText = readPreferred(registry, kNormPos, screen.size);
    const int storedPixelsPerInch = readNumber(registry, kPixelsPerInch, screen.pixelsPerInch);
    if ((minMaxText.isEmpty() && normText.isEmpty()) || storedPixelsPerInch != screen.pixelsPerInch)
        return std::nullopt;
    if (const auto mm = parseFour(minMaxText)) {
        p.minPosition = QPoint((*mm)[0], (*mm)[1]);
        p.maxPosition = QPoint((*mm)[2], (*mm)[3]);
    }
    if (const auto n = parseFour(normText))
        p.normalPosition = {(*n)[0], (*n)[1], (*n)[2], (*n)[3]};
    return p;
}

QRect reachableRect(const QRect& window, const QList<QRect>& screens) {
    if (screens.isEmpty() || !window.isValid())
        return window;
    // The strip along the top that a user grabs to move the window.
    constexpr int kGripHeight = 24;
    constexpr int kGripWidth = 48;
    const QRect grip(window.left(), window.top(), window.width(), kGripHeight);
    for (const QRect& screen : screens) {
        const QRect shown = grip.intersected(screen);
        if (shown.width() >= std::min(kGripWidth, window.width()) &&
            shown.height() >= std::min(kGripHeight, window.height()))
            return window;
    }
    // The screen nearest to the window's centre.
    const QPoint centre = window.center();
    const QRect* nearest = &screens.front();
    qint64 best = std::numeric_limits<qint64>::max();
    for (const QRect& screen : screens) {
        const qint64 dx = std::max({screen.left() - centre.x(), 0, centre.x() - screen.right()});
        const qint64 dy = std::max({screen.top() - centre.y(), 0, centre.y() - screen.bottom()});
        if (dx * dx + dy * dy < best) {
            best = dx * dx + dy * dy;
            nearest = &screen;
        }
    }
    QRect moved(window.topLeft(), window.size().boundedTo(nearest->size()));
    moved.moveLeft(std::clamp(moved.left(), nearest->left(), nearest->right() + 1 - moved.width()));
    moved.moveTop(std::clamp(moved.top(), nearest->top(), nearest->bottom() + 1 - moved.height()));
    return moved;
}

ScreenInfo currentScreen() {
    ScreenInfo info;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        info.size = screen->size();
        info.pixelsPerInch = qRound(screen->logicalDotsPerInchY());
    }
    return info;
}

void savePlacement(const QWidget* window, SaveMoment moment, const QString& keyPath) {
    WindowPlacement p;
    const Qt::WindowStates state = window->windowState();
    if (state & Qt::WindowMinimized)
        p.showCmd = kShowMinimized;
    else if (state & Qt::WindowMaximized)
        p.showCmd = kShowMaximized;
    else
        p.showCmd = kShowNormal;
    if ((state & Qt::WindowMinimized) && (state & Qt::WindowMaximized))
        p.flags = kRestoreToMaximized;

    // The normal rectangle of the whole window, frame included.
    QRect frame = window->frameGeometry();
    if (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        const QRect normal = window->normalGeometry();
        if (normal.isValid()) {
            const QMargins margins(window->geometry().left() - frame.left(),
                                   window->geometry().top() - frame.top(),
                                   frame.right() - window->geometry().right(),
                                   frame.bottom() - window->geometry().bottom());
            frame = normal.marginsAdded(margins);
        }
    }
    p.normalPosition = {frame.left(), frame.top(), frame.left() + frame.width(),
                        frame.top() + frame.height()};

    Registry registry(RootKey::CurrentUser);
    if (!registry.openKey(keyPath, true))
        throw RegistryError(QStringLiteral("Fehler beim Erzeugen des Schlüssels %1").arg(keyPath));
    writePlacement(registry, p, currentScreen(), moment);
}

bool restorePlacement(QWidget* window, const QString& keyPath) {
    Registry registry(RootKey::CurrentUser);
    if (!registry.openKeyReadOnly(keyPath))
        return false;
    const std::optional<WindowPlacement> p = readPlacement(registry, currentScreen());
    if (!p)
        return false;
    const PlacementRect& r = p->normalPosition;
    if (r.right <= r.left)
        return false;
    const bool sizeable = !(window->windowFlags() & Qt::FramelessWindowHint) &&
                          window->minimumSize() != window->maximumSize();
    const QSize frameExtra = window->frameGeometry().size() - window->geometry().size();
    QSize frameSize = window->frameGeometry().size();
    if (sizeable && r.bottom > r.top)
        frameSize = QSize(r.right - r.left, r.bottom - r.top);
    // A position saved on a screen that is no longer there (or a damaged
    // value) must not leave the window out of reach.
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    const QRect placed = reachableRect(QRect(QPoint(r.left, r.top), frameSize), screens);
    if (sizeable && (r.bottom > r.top || placed.size() != frameSize))
        window->resize(placed.size() - frameExtra);
    window->move(placed.topLeft()); // top-level move places the frame's corner
    return true;
}

} // namespace settings
