#pragma once

#include "ui/dialogs.h"
#include "store/list_views.h"
#include "store/playlist_store.h"

#include <functional>

namespace melofon::editing {

// What the editing commands work on: the tables, the two list boxes, the dialogs and the
// window's own directory of the last multiple selection.
struct EditingContext {
    store::PlaylistStore& store;
    store::ListBox& lstListas;
    store::ListBox& lstContenido;
    std::function<void(bool)> enableEliminarLis;
    MessageBoxes& messages;
    InputBoxes& input;
    OpenFileDialog& cmExplorar;
    QString& sDirectorio;
};

// "Nueva": asks for a name and appends an empty playlist.
void cmdNuevaLis_Click(EditingContext& c);
// "Eliminar": after a confirmation, deletes the selected playlist with its file entries.
void cmdEliminarLis_Click(EditingContext& c);
// "Agregar": adds the files chosen in the open-file dialog to the selected playlist.
void cmdAgregarDoc_Click(EditingContext& c);
// "Quitar": after a confirmation, deletes the file box's current entry.
void cmdEliminarDoc_Click(EditingContext& c);

} // namespace melofon::editing
