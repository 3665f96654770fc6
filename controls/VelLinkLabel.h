#pragma once
// A label that behaves like a hyperlink or a flat image button: an optional
// image beside or above the caption, a hot look while the pointer is over it,
// a pressed image, a visited colour after a click, an optional frame when hot
// or selected, auto-sizing to image plus text, and on a click it can hand its
// URL to the desktop to open.

#include "controls/colors.h"
#include "controls/imagelist.h" // imageList() converts a guarded pointer to it

#include <QPointer>
#include <QWidget>
#include <functional>

class QAction;
class QPainter;
class TVelLinkLabel;

// Opens `url` with the desktop's handler for it. Returns whether that worked;
// any failure, thrown or reported, gives false.
bool ShellOpenURL(QWidget* owner, const QString& url);

// Replaces what ShellOpenURL calls (tests record instead of opening anything);
// an empty function restores the desktop's URL opener.
using UrlOpener = std::function<bool(const QString& url)>;
void setUrlOpener(UrlOpener opener);

// Ties a label to an action: the label takes the action's caption, enabled
// state, visibility and hint, and a click triggers the action. A link label
// takes no part in an action's checked state or group.
class TVelLinkLabelActionLink : public QObject {
    Q_OBJECT
public:
    TVelLinkLabelActionLink(TVelLinkLabel* client, QAction* action);

    void assignClient(TVelLinkLabel* client);
    QAction* action() const { return m_action; }
    bool isCheckedLinked() const { return false; }
    bool isGroupIndexLinked() const { return false; }
    void setChecked(bool) {}
    void setGroupIndex(int) {}
    void execute();

private:
    void actionChanged();

    QPointer<TVelLinkLabel> m_client;
    QPointer<QAction> m_action;
};

class TVelLinkLabel : public QWidget {
    Q_OBJECT
public:
    enum TAlignment { taLeftJustify, taRightJustify, taCenter };
    enum TTextLayout { tlTop, tlCenter, tlBottom };

    explicit TVelLinkLabel(QWidget* parent = nullptr);
    ~TVelLinkLabel() override;

    // Published properties.
    int imageIndex() const { return m_imageIndex; }
    int imageIndexHot() const { return m_imageIndexHot; }
    int imageIndexPressed() const { return m_imageIndexPressed; }
    int imageIndexDisabled() const { return m_imageIndexDisabled; }
    bool imageTop() const { return m_imageTop; }
    TColor colorHot() const { return m_colorHot; }
    TColor colorVisited() const { return m_colorVisited; }
    TColor colorFrame() const { return m_colorFrame; }
    TColor colorFrameHot() const { return m_colorFrameHot; }
    TColor colorFrameSelected() const { return m_colorFrameSelected; }
    bool underlineHot() const { return m_underlineHot; }
    ImageList* imageList() const { return m_imageList; }
    int imageTextSpace() const { return m_imageTextSpace; }
    int imageBoarderSpace() const { return m_imageBoarderSpace; }
    bool showFrame() const { return m_showFrame; }
    bool showSelected() const { return m_showSelected; }
    bool selected() const { return m_selected; }
    bool visitLink() const { return m_visitLink; }
    QString url() const { return m_url; }
    QString caption() const { return m_caption; }

    void setImageIndex(int index);
    void setImageIndexHot(int index);
    void setImageIndexPressed(int index);
    void setImageIndexDisabled(int index);
    void setImageTop(bool on) { m_imageTop = on; }
    void setColorHot(TColor c);
    void setColorVisited(TColor c) { m_colorVisited = c; }
    void setColorFrame(TColor c) { m_colorFrame = c; }
    void setColorFrameHot(TColor c) { m_colorFrameHot = c; }
    void setColorFrameSelected(TColor c) { m_colorFrameSelected = c; }
    void setUnderlineHot(bool on) { m_underlineHot = on; }
    void setImageList(ImageList* list);
    void setImageTextSpace(int pixels);
    void setImageBoarderSpace(int pixels);
    void setShowFrame(bool on) { m_showFrame = on; }
    void setShowSelected(bool on) { m_showSelected = on; }
    void setSelected(bool on) { m_selected = on; }
    void setVisitLink(bool on) { m_visitLink = on; }
    // An empty or single-blank URL switches VisitLink off; a URL never switches it on.
    void setURL(const QString& url);
    // While the caption equals the URL, the URL follows the caption.
    void setCaption(const QString& caption);

    // Inherited label properties.
    TColor fontColor() const { return m_fontColor; }
    void setFontColor(TColor c);
    TColor color() const { return m_color; }
    void setColor(TColor c);
    bool transparent() const { return m_transparent; }
    void setTransparent(bool on);
    bool autoSize() const { return m_autoSize; }
    void setAutoSize(bool on);
    bool wordWrap() const { return m_wordWrap; }
    void setWordWrap(bool on);
    bool showAccelChar() const { return m_showAccelChar; }
    void setShowAccelChar(bool on);
    TAlignment alignment() const { return m_alignment; }
    void setAlignment(TAlignment alignment);
    TTextLayout layout() const { return m_layout; }
    void setLayout(TTextLayout layout);

    // The action whose caption, state and command the label takes over; a
    // null action unlinks.
    void setAction(QAction* action);
    QAction* action() const;

    // Internal marks, readable for the owner and for tests.
    bool isHot() const { return m_mouseInside; }
    bool isPressed() const { return m_pressed; }
    bool isVisited() const { return m_visited; }
    TColor normalFontColor() const { return m_normalFontColor; }
    bool hasImage() const;
    // The image the label shows in its current state (-1: none).
    int currentImageIndex() const;

    // Sizes the label to image plus text (only while AutoSize is on).
    void adjustBounds();
    // An action was linked or changed.
    void actionChange(QAction* action);

    void paintLabel(QPainter& painter) const;

    // A press from the keyboard or a screen reader: the same as a click.
    void activate() { click(); }

signals:
    void clicked();
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseEnter();
    void mouseLeave();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Space, Enter and Return press the focused label.
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

    // The framework's click: visited colour, OnClick or the action, then the
    // URL under the hourglass when VisitLink is on.
    virtual void click();

private:
    int textFlags() const;
    QString measuredText() const;
    QSize measureText(int width) const;
    bool isValidIndex(int index) const;
    void changeAndResize(int& field, int value);
    void drawText(QPainter& painter, QRect rect, int flags) const;

    int m_imageIndex = -1;
    int m_imageIndexHot = -1;
    int m_imageIndexPressed = -1;
    int m_imageIndexDisabled = -1;
    bool m_imageTop = false;
    TColor m_colorHot = clInactiveCaption;
    TColor m_colorVisited = clGrayText;
    TColor m_normalFontColor = 0;
    TColor m_colorFrame = 0xC56A31;
    TColor m_colorFrameHot = 0xF6E8E0;
    TColor m_colorFrameSelected = 0xEED2C1;
    bool m_underlineHot = true;
    bool m_wasUnderlined = false;
    bool m_mouseInside = false;
    bool m_pressed = false;
    QPointer<ImageList> m_imageList;
    QMetaObject::Connection m_imageListDestroyed;
    QMetaObject::Connection m_imageListChanged;
    int m_imageTextSpace = 10;
    int m_imageBoarderSpace = 0;
    bool m_showFrame = false;
    bool m_showSelected = false;
    bool m_selected = false;
    bool m_visited = false;
    bool m_visitLink = false;
    QString m_url;
    QString m_caption;

    TColor m_fontColor = clWindowText;
    TColor m_color = clBtnFace;
    bool m_transparent = false;
    bool m_autoSize = true;
    bool m_wordWrap = false;
    bool m_showAccelChar = true;
    TAlignment m_alignment = taLeftJustify;
    TTextLayout m_layout = tlTop;
    bool m_leftDown = false;
    TVelLinkLabelActionLink* m_actionLink = nullptr;
};
