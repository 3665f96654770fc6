#include "controls/imagelist.h"

#include <QPainter>

ImageList::ImageList(QSize imageSize, QObject* parent) : QObject(parent), m_size(imageSize) {}

QPixmap ImageList::fitted(const QPixmap& image) const {
    return image.size() == m_size || image.isNull()
               ? image
               : image.scaled(m_size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

int ImageList::add(const QPixmap& image) {
    m_images.append({fitted(image), {}});
    emit changed();
    return m_images.size() - 1;
}

int ImageList::addDeferred(std::function<QPixmap()> make) {
    m_images.append({QPixmap(), std::move(make)});
    emit changed();
    return m_images.size() - 1;
}

const QPixmap& ImageList::imageAt(int index) const {
    Entry& entry = m_images[index];
    if (entry.make) {
        entry.image = fitted(entry.make());
        entry.make = nullptr;
    }
    return entry.image;
}

void ImageList::addStrip(const QPixmap& strip) {
    if (m_size.width() <= 0)
        return;
    for (int x = 0; x + m_size.width() <= strip.width(); x += m_size.width())
        m_images.append({strip.copy(x, 0, m_size.width(), m_size.height()), {}});
    emit changed();
}

QPixmap ImageList::image(int index) const {
    return index >= 0 && index < m_images.size() ? imageAt(index) : QPixmap();
}

void ImageList::draw(QPainter& painter, int x, int y, int index) const {
    if (index >= 0 && index < m_images.size())
        painter.drawPixmap(x, y, imageAt(index));
}
