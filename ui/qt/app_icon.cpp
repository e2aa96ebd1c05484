#include "ui/qt/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace pelmo::ui {

QPixmap DrawApplicationIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // The tile: a rounded square, lighter blue at the top.
    QLinearGradient tile(0, 0, 0, s);
    tile.setColorAt(0.0, QColor(0x3b, 0x8e, 0xea));
    tile.setColorAt(1.0, QColor(0x1a, 0x4f, 0xa8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    const qreal margin = s / 16;
    painter.drawRoundedRect(QRectF(margin, margin, s - 2 * margin, s - 2 * margin), s / 5, s / 5);

    // The arrow: head and shaft, pointing up.
    QPainterPath arrow;
    arrow.moveTo(0.50 * s, 0.16 * s);
    arrow.lineTo(0.80 * s, 0.48 * s);
    arrow.lineTo(0.61 * s, 0.48 * s);
    arrow.lineTo(0.61 * s, 0.68 * s);
    arrow.lineTo(0.39 * s, 0.68 * s);
    arrow.lineTo(0.39 * s, 0.48 * s);
    arrow.lineTo(0.20 * s, 0.48 * s);
    arrow.closeSubpath();
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);

    // The bar under it: the installed client the arrow lifts.
    painter.setBrush(QColor(0xff, 0xd2, 0x4a));
    painter.drawRoundedRect(QRectF(0.24 * s, 0.74 * s, 0.52 * s, 0.09 * s), s / 40, s / 40);
    return pixmap;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawApplicationIcon(size));
    return icon;
}

}  // namespace pelmo::ui
