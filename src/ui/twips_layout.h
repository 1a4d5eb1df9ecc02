#pragma once

// Placing controls as the forms were drawn: positions in twips, 15 to a pixel.

#include <QRect>
#include <QString>
#include <QWidget>

#include <cmath>
#include <utility>

namespace melofon::app {

inline int px(int twips) { return int(std::lround(twips / 15.0)); }

inline QRect twips(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

// Creates a named child control at `geometry`.
template <class W, class... Args>
W* place(QWidget* parent, const char* name, const QRect& geometry, Args&&... args) {
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromUtf8(name));
    w->setGeometry(geometry);
    return w;
}

} // namespace melofon::app
