#pragma once

#include <QIcon>

namespace melofon::app {

// Every picture of the main window, drawn here so that no image files are needed.
enum class Glyph { Play, Pause, Stop };

QIcon melofonIcon();
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
