#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <functional>

namespace melofon::app {

namespace {

QPixmap paint(int size, const std::function<void(QPainter&)>& draw) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return pm;
}

QIcon icon32(const std::function<void(QPainter&)>& draw) { return QIcon(paint(32, draw)); }

// A quaver: filled head with a stem, at (x, y) for the head's centre.
void note(QPainter& p, qreal x, qreal y, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.save();
    p.translate(x, y);
    p.rotate(-20);
    p.drawEllipse(QRectF(-3.2, -2.3, 6.4, 4.6));
    p.restore();
    p.setPen(QPen(c, 1.4));
    p.drawLine(QPointF(x + 2.8, y - 1), QPointF(x + 2.8, y - 11));
}

void stave(QPainter& p) {
    p.setPen(QPen(Qt::black, 1));
    for (int i = 0; i < 5; ++i)
        p.drawLine(QPointF(1, 9.5 + 4 * i), QPointF(31, 9.5 + 4 * i));
}

// Drawn on whole pixels without anti-aliasing, so that the shadow of the disabled image
// stays a crisp one-pixel line.
void drawGlyph(QPainter& p, Glyph glyph, int size, const QColor& c, QPoint offset) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const int m = std::max(1, size / 5);
    const int inner = size - 2 * m;
    p.save();
    p.translate(offset);
    switch (glyph) {
    case Glyph::Play: {
        const QPoint tri[] = {{m, m}, {size - m, size / 2}, {m, size - m}};
        p.drawPolygon(tri, 3);
        break;
    }
    case Glyph::Pause: {
        const int bar = std::max(2, inner / 3);
        p.drawRect(QRect(m, m, bar, inner));
        p.drawRect(QRect(size - m - bar, m, bar, inner));
        break;
    }
    case Glyph::Stop:
        p.drawRect(QRect(m, m, inner, inner));
        break;
    }
    p.restore();
}

} // namespace

QIcon melofonIcon() {
    return icon32([](QPainter& p) {
        p.setBrush(QColor(0, 64, 64));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
        note(p, 12, 24, Qt::white);
        note(p, 22, 21, Qt::white);
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(14.8, 12.5), QPointF(24.8, 9.5));
    });
}

QIcon iconNueva() {
    return icon32([](QPainter& p) {
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6.5, 3.5, 17, 24));
        for (int i = 0; i < 4; ++i)
            p.drawLine(QPointF(9.5, 9.5 + 4 * i), QPointF(20.5, 9.5 + 4 * i));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 128, 0));
        p.drawRect(QRectF(21, 17, 4, 14));
        p.drawRect(QRectF(16, 22, 14, 4));
    });
}

QIcon iconEliminar() {
    return icon32([](QPainter& p) {
        p.setPen(QPen(Qt::black, 5, Qt::SolidLine, Qt::SquareCap));
        p.drawLine(QPointF(6, 6), QPointF(26, 26));
        p.drawLine(QPointF(26, 6), QPointF(6, 26));
    });
}

QIcon iconAcerca() {
    return icon32([](QPainter& p) {
        p.setPen(QPen(QColor(0, 64, 128), 2));
        p.setBrush(QColor(220, 235, 255));
        p.drawEllipse(QRectF(3, 3, 26, 26));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 64, 128));
        p.drawEllipse(QRectF(14, 7.5, 4, 4));
        p.drawRect(QRectF(14, 13.5, 4, 11));
    });
}

QIcon iconSalir() {
    return icon32([](QPainter& p) {
        // A door frame with the door swung open.
        p.setPen(QPen(Qt::black, 1.5));
        p.setBrush(QColor(40, 40, 40));
        p.drawRect(QRectF(8, 3, 16, 26));
        QPainterPath door;
        door.moveTo(8, 3);
        door.lineTo(19, 6);
        door.lineTo(19, 31);
        door.lineTo(8, 29);
        door.closeSubpath();
        p.setBrush(QColor(160, 100, 40));
        p.drawPath(door);
        p.setBrush(Qt::black);
        p.drawEllipse(QRectF(15.5, 16, 2, 2));
    });
}

QIcon iconAgregar() {
    return icon32([](QPainter& p) {
        stave(p);
        note(p, 9, 21.5, Qt::black);
        note(p, 18, 17.5, Qt::black);
        note(p, 26, 13.5, Qt::black);
    });
}

QIcon iconQuitar() {
    return icon32([](QPainter& p) {
        stave(p);
        note(p, 10, 21.5, Qt::black);
        p.setPen(QPen(QColor(192, 0, 0), 3));
        p.drawLine(QPointF(17, 17.5), QPointF(29, 17.5));
    });
}

QIcon transportIcon(Glyph glyph, int size) {
    QIcon icon(paint(size, [&](QPainter& p) { drawGlyph(p, glyph, size - 1, Qt::black, {0, 0}); }));
    if (glyph != Glyph::Pause) {
        icon.addPixmap(paint(size,
                             [&](QPainter& p) {
                                 drawGlyph(p, glyph, size - 1, Qt::white, {1, 1});
                                 drawGlyph(p, glyph, size - 1, QColor(64, 64, 64), {0, 0});
                             }),
                       QIcon::Disabled);
    }
    return icon;
}

} // namespace melofon::app
