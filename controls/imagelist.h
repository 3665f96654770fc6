#pragma once
// A list of equally sized images addressed by index, shared by several
// controls that draw from it (toolbar buttons, the caption buttons). The
// controls hold a reference only; when the list goes away they drop it.

#include <QObject>
#include <QPixmap>
#include <QSize>
#include <QVector>
#include <functional>

class QPainter;

class ImageList : public QObject {
    Q_OBJECT
public:
    explicit ImageList(QSize imageSize = QSize(16, 16), QObject* parent = nullptr);

    int width() const { return m_size.width(); }
    int height() const { return m_size.height(); }
    QSize imageSize() const { return m_size; }
    int count() const { return m_images.size(); }

    // Adds an image (scaled to the list's size if it differs); returns its index.
    int add(const QPixmap& image);
    // Adds an image drawn only when it is first asked for or drawn (images
    // for states a control is rarely in); returns its index.
    int addDeferred(std::function<QPixmap()> make);
    // Cuts a strip of images laid side by side into the list.
    void addStrip(const QPixmap& strip);
    QPixmap image(int index) const;

    // Draws image `index` with its top-left corner at (x, y); an index the
    // list does not hold draws nothing.
    void draw(QPainter& painter, int x, int y, int index) const;

signals:
    void changed();

private:
    const QPixmap& imageAt(int index) const;
    QPixmap fitted(const QPixmap& image) const;

    QSize m_size;
    // An image and, until it has been made, its maker.
    struct Entry {
        QPixmap image;
        std::function<QPixmap()> make;
    };
    mutable QVector<Entry> m_images;
};
