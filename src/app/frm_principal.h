#pragma once

// The main window. It owns the controls and the timer, reaches the playlist tables
// through the store's three data sources, and routes every event to its handler
// (named after the control and the event). Each handler runs inside one guard: a failing
// table or platform operation stops that command, the user is told why, and the window
// keeps working. The list-view procedures themselves live with the store (list_views.h)
// and work on the two list boxes through their ListBox interface.

#include "ui/list_box_widget.h"
#include "editing/commands.h"
#include "ui/dialogs.h"
#include "playback/media_player.h"
#include "playback/playback_controller.h"
#include "store/list_views.h"
#include "store/playlist_store.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QTimer;
class QToolButton;

namespace melofon::app {

class frmPrincipal : public QWidget {
    Q_OBJECT
public:
    // `programDir` is made the current directory at creation and at every activation.
    // `endProgram` ends the process at once (tests pass their own).
    frmPrincipal(store::PlaylistStore& store, playback::MediaPlayer& player, const editing::Dialogs& dialogs,
                 const QString& programDir, std::function<void()> endProgram, QWidget* parent = nullptr);
    ~frmPrincipal() override;

    // Loads the window and shows it centred: Form_Load, the other two data sources, the
    // timer, then the window itself.
    void start();

    // Controls, under their own names.
    QGroupBox* fraInformación;
    QLabel* lblTiempo;
    QScrollBar* hsTiempo;
    QLabel* lblMinTranscurridos;
    QLabel* lblSeparador;
    QLabel* lblSegTranscurridos;
    QLabel* lblMinDuracion;
    QLabel* lblSeparador2;
    QLabel* lblSegDuracion;
    QLabel* lblVolumen;
    QScrollBar* hsVolumen;
    QGroupBox* fraListas;
    QToolButton* cmdNuevaLis;
    QToolButton* cmdEliminarLis;
    QToolButton* cmdPlay;
    QToolButton* cmdPause;
    QToolButton* cmdStop;
    QCheckBox* chkContinuado;
    QCheckBox* chkAleatorio;
    QCheckBox* chkTodas;
    QToolButton* cmdAcerca;
    QToolButton* cmdSalir;
    ListBoxWidget* lstListas;
    QToolButton* cmdAgregarDoc;
    QToolButton* cmdEliminarDoc;
    ListBoxWidget* lstContenido;
    QGroupBox* fraArchivo;
    QLineEdit* txtArchivo;
    QPushButton* cmdExaminar;
    QToolButton* cmdPlayArchivo;
    QToolButton* cmdPauseArchivo;
    QToolButton* cmdStopArchivo;
    QTimer* Timer1;
    playback::MediaPlayer& mpReproductor;
    editing::OpenFileDialog& cmExplorar;

    store::DataSource& dtcListas() { return store_.dtcListas(); }
    store::DataSource& dtcDocumentos() { return store_.dtcDocumentos(); }
    store::DataSource& dtcLisDoc() { return store_.dtcLisDoc(); }

    // The window's own variables.
    QString sDirectorio;
    bool Detenido = false;
    qint32 SegundosPorPaso = 0;

    // Event handlers.
    void Form_Initialize();
    void Form_Load();
    void Form_Activate();
    void cmdAcerca_Click();
    void cmdSalir_Click();
    void lstListas_Click();
    void cmdNuevaLis_Click();
    void cmdEliminarLis_Click();
    void cmdAgregarDoc_Click();
    void cmdEliminarDoc_Click();
    void cmdPlay_Click();
    void cmdPause_Click();
    void cmdStop_Click();
    void Timer1_Timer();
    void hsVolumen_Change();
    void cmdExaminar_Click();
    void txtArchivo_Change();
    void cmdPlayArchivo_Click();
    void cmdPauseArchivo_Click();
    void cmdStopArchivo_Click();

    // Shows the file the player has just started: caption, duration, elapsed time from
    // zero, volume and position.
    void MostrarArchivo(const QString& fileName);
    // What the caption shows of a file's name.
    static QString NombreMostrado(const QString& fileName);
    // The duration labels, and the bar's seconds per step for a walk's file.
    void MostrarDuracion();
    // A file given from outside (the command line, the desktop): put in the single-file
    // strip's text box and played, as the strip's play button plays it.
    void ReproducirArchivo(const QString& path);
    // What plays: the walk, the strip's file and the commands the desktop calls too.
    playback::PlaybackController& playback() { return *playback_; }
    playback::PlaylistWalk& walk() { return playback_->walk(); }

    // The list-view procedures on this window's boxes.
    void LlenarListas();
    void LlenarDocumentos();
    store::ListId SelIdLista() const { return store::SelId(*lstListas); }
    store::ListId SelIdDocumento() const { return store::SelId(*lstContenido); }
    QString SelPathDocumento() const { return store::SelPathDocumento(*lstContenido); }

    // Runs one event handler: a failure is shown in a message box and goes no further.
    void guarded(const std::function<void()>& handler);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    editing::EditingContext editingContext();
    void connectEvents();

    store::PlaylistStore& store_;
    QString programDir_;
    editing::MessageBoxes& messages_;
    editing::InputBoxes& input_;
    std::function<void()> endProgram_;
    // The strip's pause and stop buttons work while its file holds the player.
    void updateStripButtons();

    // What the playback controller says is shown here.
    void connectPlayback();
    void playbackChanged();
    void markPlayingRow();
    void holdBoxPaint();
    QTimer* paintHold_ = nullptr;
    std::unique_ptr<playback::PlaybackController> playback_;
    bool toldNoOutput_ = false;
};

} // namespace melofon::app
