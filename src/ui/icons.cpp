#include "ui/icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <cmath>
#include <functional>

namespace melofon::app {

namespace {

// Paints a square of `size` device pixels.
using Draw = std::function<void(QPainter&, int size, QIcon::Mode)>;

// Draws each picture when it is asked for, at the size and device pixel ratio of the
// screen it goes to, so that it stays sharp at 150 % and 200 % scaling.
class DrawnIconEngine : public QIconEngine {
public:
    DrawnIconEngine(int designSize, Draw draw, bool ownDisabled)
        : designSize_(designSize), draw_(std::move(draw)), ownDisabled_(ownDisabled) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const int side = std::max(1, std::min(size.width(), size.height()));
        const bool generated = mode == QIcon::Selected || (mode == QIcon::Disabled && !ownDisabled_);
        QPixmap pm(side, side);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            draw_(p, side, generated ? QIcon::Normal : mode);
        }
        if (generated) {
            // Greyed or highlighted the way the style treats any other picture.
            QStyleOption option;
            option.palette = QApplication::palette();
            pm = QApplication::style()->generatedIconPixmap(mode, pm, &option);
        }
        return pm;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pm = pixmap(rect.size() * ratio, mode, state);
        pm.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect.topLeft(), pm);
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }

    // Window managers that take a list of fixed sizes get these.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (int factor : {1, 2, 3, 4})
            sizes << QSize(designSize_ * factor, designSize_ * factor);
        return sizes;
    }

    QString key() const override { return QStringLiteral("melofon-drawn"); }
    QIconEngine* clone() const override { return new DrawnIconEngine(*this); }

private:
    int designSize_;
    Draw draw_;
    bool ownDisabled_;
};

// A 32 by 32 picture, drawn in its design coordinates and scaled to the pixels asked for.
QIcon icon32(const std::function<void(QPainter&)>& draw) {
    return QIcon(new DrawnIconEngine(
        32,
        [draw](QPainter& p, int size, QIcon::Mode) {
            p.scale(size / 32.0, size / 32.0);
            draw(p);
        },
        false));
}

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

// The program's own picture: two white quavers on a dark teal tile.
void drawMelofonIcon(QPainter& p) {
    p.setBrush(QColor(0, 64, 64));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    note(p, 12, 24, Qt::white);
    note(p, 22, 21, Qt::white);
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QPointF(14.8, 12.5), QPointF(24.8, 9.5));
}

QIcon melofonIcon() { return icon32(drawMelofonIcon); }

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
    return QIcon(new DrawnIconEngine(
        size,
        [glyph, size](QPainter& p, int pixels, QIcon::Mode mode) {
            if (mode != QIcon::Disabled) {
                drawGlyph(p, glyph, pixels - 1, Qt::black, {0, 0});
                return;
            }
            // The shadow lies one logical pixel off, however many device pixels that is.
            const int shadow = std::max(1, int(std::lround(double(pixels) / size)));
            drawGlyph(p, glyph, pixels - shadow, Qt::white, {shadow, shadow});
            drawGlyph(p, glyph, pixels - shadow, QColor(64, 64, 64), {0, 0});
        },
        glyph != Glyph::Pause));
}

} // namespace melofon::app
