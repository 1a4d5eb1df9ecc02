#pragma once

#include <QIcon>

class QPainter;

namespace melofon::app {

// Every picture of the main window, drawn here so that no image files are needed.
enum class Glyph { Play, Pause, Stop };

QIcon melofonIcon();
// The program's icon in a 32 by 32 space; the installed icon files are drawn from it too.
void drawMelofonIcon(QPainter& p);
QIcon iconNueva();
QIcon iconEliminar();
QIcon iconAcerca();
QIcon iconSalir();
QIcon iconAgregar();
QIcon iconQuitar();
// A black transport glyph of `size` pixels; play and stop also carry the disabled image
// (the glyph in dark grey over a white shadow one pixel down and to the right).
QIcon transportIcon(Glyph glyph, int size);

} // namespace melofon::app
