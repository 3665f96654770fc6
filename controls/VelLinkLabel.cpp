#include "controls/VelLinkLabel.h"

#include "controls/imagelist.h"
#include "controls/styledaccessible.h"

#include <QAction>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QUrl>
#include <algorithm>

namespace {

UrlOpener& urlOpener() {
    static UrlOpener opener;
    return opener;
}

// "www.example.org" and "/home/x/readme.txt" open as well as full URLs.
bool openWithDesktop(const QString& url) {
    const QUrl target = QUrl::fromUserInput(url.trimmed());
    return target.isValid() && QDesktopServices::openUrl(target);
}

} // namespace

bool ShellOpenURL(QWidget* owner, const QString& url) {
    Q_UNUSED(owner); // the desktop opener needs no owner window
    try {
        if (const UrlOpener& opener = urlOpener())
            return opener(url);
        return openWithDesktop(url);
    } catch (...) {
        return false;
    }
}

void setUrlOpener(UrlOpener opener) {
    urlOpener() = std::move(opener);
}

// --- action link ---------------------------------------------------------

TVelLinkLabelActionLink::TVelLinkLabelActionLink(TVelLinkLabel* client, QAction* action)
    : QObject(client), m_action(action) {
    assignClient(client);
    if (action)
        connect(action, &QAction::changed, this, &TVelLinkLabelActionLink::actionChanged);
    actionChanged();
}

void TVelLinkLabelActionLink::assignClient(TVelLinkLabel* client) {
    m_client = client;
}

void TVelLinkLabelActionLink::execute() {
    if (m_action)
        m_action->trigger();
}

void TVelLinkLabelActionLink::actionChanged() {
    if (m_client && m_action)
        m_client->actionChange(m_action);
}

// --- label ---------------------------------------------------------------

TVelLinkLabel::TVelLinkLabel(QWidget* parent) : QWidget(parent) {
    styledaccessible::install();
    // Reached with Tab like a button, so that what a click does can be done
    // from the keyboard.
    setFocusPolicy(Qt::TabFocus);
    if (parent)
        m_fontColor = clActiveCaption;
    adjustBounds();
}

TVelLinkLabel::~TVelLinkLabel() {
    disconnect(m_imageListDestroyed);
    disconnect(m_imageListChanged);
}

bool TVelLinkLabel::isValidIndex(int index) const {
    return m_imageList && index >= 0 && index < m_imageList->count();
}

bool TVelLinkLabel::hasImage() const {
    return m_imageList && (m_imageIndex >= 0 || m_imageIndexHot >= 0 || m_imageIndexPressed >= 0 ||
                           m_imageIndexDisabled >= 0);
}

int TVelLinkLabel::currentImageIndex() const {
    if (!hasImage())
        return -1;
    int index = m_imageIndex;
    if (m_mouseInside && isValidIndex(m_imageIndexHot))
        index = m_imageIndexHot;
    if (!isEnabled() && isValidIndex(m_imageIndexDisabled))
        index = m_imageIndexDisabled;
    else if (m_pressed && isValidIndex(m_imageIndexPressed))
        index = m_imageIndexPressed;
    return index;
}

void TVelLinkLabel::changeAndResize(int& field, int index) {
    if (field == index)
        return;
    field = index;
    adjustBounds();
    update();
}

void TVelLinkLabel::setImageIndex(int index) {
    changeAndResize(m_imageIndex, index);
}
void TVelLinkLabel::setImageIndexHot(int index) {
    changeAndResize(m_imageIndexHot, index);
}
void TVelLinkLabel::setImageIndexPressed(int index) {
    changeAndResize(m_imageIndexPressed, index);
}
void TVelLinkLabel::setImageIndexDisabled(int index) {
    changeAndResize(m_imageIndexDisabled, index);
}
void TVelLinkLabel::setImageTextSpace(int pixels) {
    changeAndResize(m_imageTextSpace, pixels);
}
void TVelLinkLabel::setImageBoarderSpace(int pixels) {
    changeAndResize(m_imageBoarderSpace, pixels);
}

void TVelLinkLabel::setColorHot(TColor c) {
    m_colorHot = colorToRGB(c);
}

void TVelLinkLabel::setImageList(ImageList* list) {
    disconnect(m_imageListDestroyed);
    disconnect(m_imageListChanged);
    m_imageList = list;
    if (list) {
        // The label never owns the list; it forgets it when the list goes.
        m_imageListDestroyed =
            connect(list, &QObject::destroyed, this, [this] { setImageList(nullptr); });
        m_imageListChanged =
            connect(list, &ImageList::changed, this, qOverload<>(&QWidget::update));
    }
    adjustBounds();
    update();
}

void TVelLinkLabel::setURL(const QString& url) {
    m_url = url;
    if (url.isEmpty() || url == QLatin1String(" "))
        m_visitLink = false;
}

void TVelLinkLabel::setCaption(const QString& caption) {
    if (m_caption == m_url)
        m_url = caption;
    if (m_caption == caption)
        return;
    m_caption = caption;
    adjustBounds();
    update();
}

void TVelLinkLabel::setFontColor(TColor c) {
    m_fontColor = c;
    update();
}

void TVelLinkLabel::setColor(TColor c) {
    m_color = c;
    update();
}

void TVelLinkLabel::setTransparent(bool on) {
    m_transparent = on;
    update();
}

void TVelLinkLabel::setAutoSize(bool on) {
    m_autoSize = on;
    adjustBounds();
}

void TVelLinkLabel::setWordWrap(bool on) {
    if (m_wordWrap == on)
        return;
    m_wordWrap = on;
    adjustBounds();
    update();
}

void TVelLinkLabel::setShowAccelChar(bool on) {
    if (m_showAccelChar == on)
        return;
    m_showAccelChar = on;
    adjustBounds();
    update();
}

void TVelLinkLabel::setAlignment(TAlignment alignment) {
    m_alignment = alignment;
    update();
}

void TVelLinkLabel::setLayout(TTextLayout layout) {
    m_layout = layout;
    update();
}

void TVelLinkLabel::setAction(QAction* action) {
    delete m_actionLink;
    m_actionLink = action ? new TVelLinkLabelActionLink(this, action) : nullptr;
}

QAction* TVelLinkLabel::action() const {
    return m_actionLink ? m_actionLink->action() : nullptr;
}

void TVelLinkLabel::actionChange(QAction* action) {
    setCaption(action->text());
    setEnabled(action->isEnabled());
    setVisible(action->isVisible());
    setToolTip(action->toolTip());
    // An action that carries an image index hands it to all four images.
    const QVariant index = action->property("ImageIndex");
    if (index.isValid()) {
        const int i = index.toInt();
        setImageIndex(i);
        setImageIndexHot(i);
        setImageIndexPressed(i);
        setImageIndexDisabled(i);
    }
    update();
}

int TVelLinkLabel::textFlags() const {
    int flags = Qt::TextExpandTabs | Qt::AlignTop;
    if (m_wordWrap)
        flags |= Qt::TextWordWrap;
    if (m_showAccelChar)
        flags |= Qt::TextShowMnemonic;
    switch (m_alignment) {
    case taLeftJustify:
        flags |= Qt::AlignLeft;
        break;
    case taRightJustify:
        flags |= Qt::AlignRight;
        break;
    case taCenter:
        flags |= Qt::AlignHCenter;
        break;
    }
    return flags;
}

QString TVelLinkLabel::measuredText() const {
    // An empty caption, or a lone accelerator mark, still measures a line.
    if (m_caption.isEmpty() || (m_showAccelChar && m_caption == QLatin1String("&")))
        return m_caption + QLatin1Char(' ');
    return m_caption;
}

QSize TVelLinkLabel::measureText(int width) const {
    const QFontMetrics metrics(font());
    const QRect bounds(0, 0, m_wordWrap ? std::max(width, 0) : 0, 0);
    return metrics
        .boundingRect(bounds, textFlags() & ~(Qt::AlignRight | Qt::AlignHCenter), measuredText())
        .size();
}

void TVelLinkLabel::adjustBounds() {
    if (!m_autoSize)
        return;
    const QSize text = measureText(width());
    const int tw = text.width();
    const int th = text.height();

    int x = geometry().x();
    const bool rightJustified =
        (m_alignment == taRightJustify) != (layoutDirection() == Qt::RightToLeft) &&
        m_alignment != taCenter;
    if (rightJustified)
        x += width() - tw;

    int extraWidth = 0;
    int extraHeight = 0;
    if (hasImage()) {
        const bool realCaption = !m_caption.isEmpty() && m_caption != QLatin1String(" ");
        extraWidth =
            realCaption ? m_imageList->width() + m_imageTextSpace : m_imageList->width() - tw;
        extraHeight = std::max(m_imageList->height() - th, 0);
    }
    setGeometry(x, geometry().y(), tw + extraWidth + m_imageBoarderSpace, th + extraHeight);
}

void TVelLinkLabel::drawText(QPainter& painter, QRect rect, int flags) const {
    const QString text = m_caption;
    if (!isEnabled()) {
        // Embossed: a highlight one pixel down-right, the shadow on top.
        painter.setPen(toQColor(clBtnHighlight));
        painter.drawText(rect.translated(1, 1), flags, text);
        painter.setPen(toQColor(clBtnShadow));
        painter.drawText(rect, flags, text);
        return;
    }
    painter.setPen(toQColor(m_fontColor));
    painter.drawText(rect, flags, text);
}

void TVelLinkLabel::paintLabel(QPainter& painter) const {
    const int w = width();
    const int h = height();
    const bool selectedFrame = m_selected && m_showSelected;

    if (m_showFrame && (m_mouseInside || selectedFrame)) {
        painter.fillRect(rect(), toQColor(selectedFrame ? m_colorFrameSelected : m_colorFrameHot));
        const QColor frame = toQColor(m_colorFrame);
        painter.fillRect(QRect(0, 0, w, 1), frame);
        painter.fillRect(QRect(0, h - 1, w, 1), frame);
        painter.fillRect(QRect(0, 0, 1, h), frame);
        painter.fillRect(QRect(w - 1, 0, 1, h), frame);
    } else if (!m_transparent) {
        painter.fillRect(rect(), toQColor(m_color));
    }

    QRect textRect = rect();
    const int flags = textFlags();
    const bool image = hasImage();
    if (m_layout != tlTop) {
        const int th = measureText(w).height();
        if (m_layout == tlBottom)
            textRect.translate(0, h - th);
        else if (image && m_imageTop)
            textRect.translate(0, (h - th + m_imageList->height() + m_imageTextSpace) / 2);
        else
            textRect.translate(0, (h - th) / 2);
    }
    if (m_imageBoarderSpace > 0)
        textRect.translate(m_imageBoarderSpace, 0);
    if (image && !m_imageTop)
        textRect.translate(m_imageList->width() + m_imageTextSpace, 0);

    painter.setFont(font());
    drawText(painter, textRect, flags);

    if (image) {
        const int index = currentImageIndex();
        if (m_imageTop)
            m_imageList->draw(painter, (w - m_imageList->width()) / 2,
                              textRect.top() - m_imageList->height() - m_imageTextSpace, index);
        else
            m_imageList->draw(painter, m_imageBoarderSpace, (h - m_imageList->height()) / 2, index);
    }
}

void TVelLinkLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintLabel(painter);
    if (hasFocus()) {
        // The focus shows as the platform's dotted frame around the label.
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void TVelLinkLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat() && event->modifiers() == Qt::NoModifier) {
            click();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void TVelLinkLabel::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void TVelLinkLabel::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void TVelLinkLabel::enterEvent(QEnterEvent*) {
    if (isEnabled()) {
        m_mouseInside = true;
        if (m_underlineHot) {
            QFont f = font();
            m_wasUnderlined = f.underline();
            f.setUnderline(true);
            setFont(f);
        }
        m_normalFontColor = colorToRGB(m_fontColor);
        m_fontColor = m_colorHot;
        update();
    }
    emit mouseEnter();
}

void TVelLinkLabel::leaveEvent(QEvent*) {
    if (isEnabled()) {
        m_mouseInside = false;
        if (m_underlineHot && !m_wasUnderlined) {
            QFont f = font();
            f.setUnderline(false);
            setFont(f);
        }
        m_fontColor = m_visited ? m_colorVisited : m_normalFontColor;
        update();
    }
    emit mouseLeave();
}

void TVelLinkLabel::mousePressEvent(QMouseEvent* event) {
    m_leftDown = event->button() == Qt::LeftButton;
    m_selected = true;
    update();
    // Selecting one link label of a window deselects all the others of that
    // window (not those of dialogs the window happens to parent).
    QWidget* owner = window();
    if (parentWidget() && m_showSelected && owner != this) {
        for (TVelLinkLabel* other : owner->findChildren<TVelLinkLabel*>()) {
            if (other != this && other->window() == owner) {
                other->setSelected(false);
                other->update();
            }
        }
    }
    m_pressed = true;
    emit mouseDown(event->button(), event->modifiers(), event->position().toPoint());
}

void TVelLinkLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press like any other, but its
    // release is not a second click.
    mousePressEvent(event);
    m_leftDown = false;
}

void TVelLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool clickIt = m_leftDown && event->button() == Qt::LeftButton &&
                         rect().contains(event->position().toPoint());
    m_leftDown = false;
    QPointer<TVelLinkLabel> self(this);
    if (clickIt)
        click();
    if (!self)
        return; // the click handler closed the window that held the label
    m_pressed = false;
    update();
    emit mouseUp(event->button(), event->modifiers(), event->position().toPoint());
}

void TVelLinkLabel::click() {
    m_fontColor = m_colorVisited;
    m_visited = true;
    update();

    QPointer<TVelLinkLabel> self(this);
    emit clicked();
    if (self && m_actionLink)
        m_actionLink->execute();
    if (!self)
        return;

    // The hourglass while the desktop starts the link's handler, restored
    // whatever the opener does.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    if (m_visitLink)
        ShellOpenURL(window(), m_url); // a link that cannot be opened is ignored
}

void TVelLinkLabel::changeEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::ParentChange:
        if (parentWidget())
            m_fontColor = clActiveCaption;
        break;
    case QEvent::FontChange:
        adjustBounds();
        break;
    case QEvent::EnabledChange:
        update();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}
