#include "imagelist.h"

#include <QPainter>

ImageList::ImageList(QSize imageSize, QObject* parent)
    : QObject(parent)
    , m_size(imageSize)
{
}

int ImageList::add(const QPixmap& image)
{
    m_images.append(image.size() == m_size ? image
                                           : image.scaled(m_size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    emit changed();
    return m_images.size() - 1;
}

void ImageList::addStrip(const QPixmap& strip)
{
    if (m_size.width() <= 0)
        return;
    for (int x = 0; x + m_size.width() <= strip.width(); x += m_size.width())
        m_images.append(strip.copy(x, 0, m_size.width(), m_size.height()));
    emit changed();
}

QPixmap ImageList::image(int index) const
{
    return index >= 0 && index < m_images.size() ? m_images[index] : QPixmap();
}

void ImageList::draw(QPainter& painter, int x, int y, int index) const
{
    if (index >= 0 && index < m_images.size())
        painter.drawPixmap(x, y, m_images[index]);
}
