#pragma once

// The editing commands the kill child gives one after another, and the kill test gives
// again to know what each should leave. Each step acts on the newest playlist, so a run
// repeats exactly from the same tables:
//   0 "Nueva"; 1 "Agregar" of 300 files; 2 "Quitar" of one of them; 3 "Agregar" of 701
//   more; 4 "Eliminar" of the playlist, its 1,000 entries with it; and again.

#include "editing/commands.h"
#include "support/fake_list_box.h"
#include "support/scripted_dialogs.h"

#include <QString>

namespace melofon::test {

constexpr int kKillSteps = 5;
inline const char* const kKillStepNames[kKillSteps] = {"Nueva", "Agregar 300", "Quitar", "Agregar 701",
                                                        "Eliminar 1000"};

struct KillEditing {
    explicit KillEditing(store::PlaylistStore& s) : store(s) {
        store.dtcListas().Refresh();
        store.dtcDocumentos().Refresh();
        store.dtcLisDoc().Refresh();
    }
    // Selects the newest playlist and lists its entries.
    void selectNewest() {
        store::LlenarListas(lstListas, store.dtcListas());
        lstListas.setListIndex(lstListas.ListCount() - 1);
        store::LlenarDocumentos(lstContenido, store::SelId(lstListas), store.dtcLisDoc(), store.dtcDocumentos());
    }
    void addFiles(int step, int n) {
        QString choice = QStringLiteral("/música/paso %1").arg(step);
        for (int i = 0; i < n; ++i)
            choice += QChar(0) + QStringLiteral("pista %1.mp3").arg(i);
        scripted.files.choices.push_back(choice);
        editing::cmdAgregarDoc_Click(c);
    }
    void run(int step) {
        selectNewest();
        switch (step % kKillSteps) {
        case 0:
            scripted.input.answers.push_back(QStringLiteral("Lista %1").arg(step));
            editing::cmdNuevaLis_Click(c);
            break;
        case 1:
            addFiles(step, 300);
            break;
        case 2:
            lstContenido.setListIndex(150);
            scripted.messages.answers.push_back(editing::MessageBoxes::vbYes);
            editing::cmdEliminarDoc_Click(c);
            break;
        case 3:
            addFiles(step, 701);
            break;
        case 4:
            scripted.messages.answers.push_back(editing::MessageBoxes::vbYes);
            editing::cmdEliminarLis_Click(c);
            break;
        }
    }

    store::PlaylistStore& store;
    FakeListBox lstListas;
    FakeListBox lstContenido;
    ScriptedDialogs scripted;
    QString sDirectorio;
    editing::EditingContext c{store, lstListas, lstContenido, [](bool) {}, scripted.messages, scripted.input,
                              scripted.files, sDirectorio};
};

} // namespace melofon::test
