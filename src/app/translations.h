#pragma once

class QCoreApplication;

namespace melofon::app {

// Loads Qt's own Spanish texts ("Sí", "No", "Aceptar", "Cancelar" on standard buttons and
// dialogs). False when they are not installed; the program then shows Qt's English.
bool loadSpanishTranslations(QCoreApplication& app);

} // namespace melofon::app
