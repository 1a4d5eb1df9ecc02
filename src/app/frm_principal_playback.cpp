// The window's playback commands: the playlist panel's play, pause and stop, the timer,
// the volume bar and the single-file strip, and what the player says back.

#include "app/frm_principal.h"

#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace melofon::app {

namespace {

QString twoDigits(qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

template <class F>
void ignoringFailure(F&& f) {
    try {
        f();
    } catch (const std::exception&) {
    }
}

} // namespace

void frmPrincipal::connectPlayback() {
    paintHold_ = new QTimer(this);
    paintHold_->setSingleShot(true);
    connect(paintHold_, &QTimer::timeout, this, [this] { lstContenido->setUpdatesEnabled(true); });
    playback::PlaybackController* p = playback_.get();
    connect(p, &playback::PlaybackController::fileStarted, this, [this](const QString& path) { MostrarArchivo(path); });
    connect(p, &playback::PlaybackController::durationChanged, this, [this] { MostrarDuracion(); });
    connect(p, &playback::PlaybackController::stateChanged, this, &frmPrincipal::playbackChanged);
    connect(p, &playback::PlaybackController::refused, this, [this](const QString& message) {
        messages_.MsgBox(message, editing::MessageBoxes::vbOKOnly, QStringLiteral("Melofon"));
    });
    connect(p, &playback::PlaybackController::noAudioOutput, this, [this](const QString& message) {
        if (!std::exchange(toldNoOutput_, true))
            messages_.MsgBox(message, editing::MessageBoxes::vbOKOnly, QStringLiteral("Melofon"));
    });
}

void frmPrincipal::cmdPlay_Click() { playback_->play(); }

void frmPrincipal::cmdPause_Click() { playback_->pause(); }

void frmPrincipal::cmdStop_Click() { playback_->stop(); }

void frmPrincipal::playbackChanged() {
    updateStripButtons();
    markPlayingRow();
    holdBoxPaint();
}

// While the walk waits to hear whether a file started, the file box is not repainted: a
// run of files that cannot be opened moves its rows once each, and painting every move
// would cost more than the rest of the walk. A start that takes long shows at once.
void frmPrincipal::holdBoxPaint() {
    const bool hold = playback_->walkStarting();
    if (hold != lstContenido->updatesEnabled())
        return;
    lstContenido->setUpdatesEnabled(!hold);
    if (hold)
        paintHold_->start(100);
    else
        paintHold_->stop();
}

// The walk's file that sounds is drawn in bold; the box's current row stays the walk's
// next entry.
void frmPrincipal::markPlayingRow() {
    const QString text = playback_->playingEntry();
    const int bold = lstContenido->boldRow();
    if (bold >= 0 && lstContenido->List(bold) == text)
        return;
    int row = -1;
    for (int i = 0; !text.isEmpty() && i < lstContenido->ListCount() && row < 0; ++i)
        if (lstContenido->List(i) == text)
            row = i;
    lstContenido->setBoldRow(row);
}

QString frmPrincipal::NombreMostrado(const QString& name) {
    // The name after the first folder separator from the fourth character on: the drive
    // and first folder ("C:\Musica\", "/home/") are left out.
    qsizetype cut = -1;
    for (qsizetype i = 3; i < name.size() && cut < 0; ++i)
        if (name.at(i) == QLatin1Char('\\') || name.at(i) == QLatin1Char('/'))
            cut = i;
    return name.mid(cut + 1);
}

void frmPrincipal::MostrarArchivo(const QString& fileName) {
    setWindowTitle(QStringLiteral("Melofon - ") + NombreMostrado(fileName));
    lblMinTranscurridos->setText(QStringLiteral("00"));
    lblSegTranscurridos->setText(QStringLiteral("00"));
    MostrarDuracion();
    ignoringFailure([&] { hsVolumen->setValue(mpReproductor.Volume()); });
    hsTiempo->setValue(0);
}

void frmPrincipal::MostrarDuracion() {
    ignoringFailure([&] {
        const double seconds = mpReproductor.Duration();
        const qint64 total = std::llround(seconds); // 119.6 s is 2:00, never 1:60
        lblMinDuracion->setText(twoDigits(total / 60));
        lblSegDuracion->setText(twoDigits(total % 60));
        if (playback_->walkPlaying()) {
            const double steps = std::nearbyint(seconds / hsTiempo->maximum());
            SegundosPorPaso = qint32(std::clamp(steps, double(INT32_MIN), double(INT32_MAX)));
        }
    });
}

void frmPrincipal::Timer1_Timer() {
    // The elapsed time and the bar follow the player's own position, so they are right
    // for every file, and stand still while it is paused.
    ignoringFailure([&] {
        if (mpReproductor.PlayState() != playback::MediaPlayer::Playing)
            return;
        const double position = mpReproductor.CurrentPosition();
        const auto elapsed = qint64(std::floor(std::max(0.0, position)));
        lblMinTranscurridos->setText(twoDigits(elapsed / 60));
        lblSegTranscurridos->setText(twoDigits(elapsed % 60));
        const double duration = mpReproductor.Duration();
        if (duration > 0) {
            const double steps = std::round(position / duration * hsTiempo->maximum());
            hsTiempo->setValue(int(std::clamp(steps, 0.0, double(hsTiempo->maximum()))));
        }
    });
}

void frmPrincipal::hsVolumen_Change() { mpReproductor.setVolume(hsVolumen->value()); }

void frmPrincipal::cmdExaminar_Click() {
    cmExplorar.Filter = QStringLiteral("MP3 (*.MP3)|*.MP3| MID (*.MID)|*.MID| WAV (*.WAV)|*.WAV;");
    cmExplorar.DialogTitle = QStringLiteral("Seleccione el archivo de sonido que desea escuchar");
    // One file only, whatever "Agregar" left on the shared dialog: a multiple answer is
    // no path to play. Its initial directory is shared on purpose.
    cmExplorar.Flags &= ~editing::OpenFileDialog::cdlOFNAllowMultiselect;
    cmExplorar.ShowOpen();
    if (!cmExplorar.FileName.isEmpty())
        txtArchivo->setText(cmExplorar.FileName);
}

void frmPrincipal::txtArchivo_Change() { cmdPlayArchivo->setEnabled(!txtArchivo->text().isEmpty()); }

// Shown when it starts; a file the player refuses is explained then.
void frmPrincipal::cmdPlayArchivo_Click() { playback_->playFile(txtArchivo->text()); }

void frmPrincipal::cmdPauseArchivo_Click() { playback_->pauseFile(); }

void frmPrincipal::cmdStopArchivo_Click() { playback_->stopFile(); }

void frmPrincipal::ReproducirArchivo(const QString& path) {
    txtArchivo->setText(path); // its change handler enables the play button
    guarded([this] { cmdPlayArchivo_Click(); });
    playback_->userChanged();
}

void frmPrincipal::updateStripButtons() {
    cmdPauseArchivo->setEnabled(playback_->stripOwnsPlayer());
    cmdStopArchivo->setEnabled(playback_->stripOwnsPlayer());
}

} // namespace melofon::app
