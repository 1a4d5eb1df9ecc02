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

bool sounding(int state) {
    return state == playback::MediaPlayer::Playing || state == playback::MediaPlayer::Paused;
}

} // namespace

void frmPrincipal::connectPlayer() {
    paintHold_ = new QTimer(this);
    paintHold_->setSingleShot(true);
    connect(paintHold_, &QTimer::timeout, this, [this] { lstContenido->setUpdatesEnabled(true); });
    playback::PlayerNotifier* n = mpReproductor.notifier();
    connect(n, &playback::PlayerNotifier::started, this, &frmPrincipal::playerStarted);
    connect(n, &playback::PlayerNotifier::failed, this, &frmPrincipal::playerFailed);
    connect(n, &playback::PlayerNotifier::stateChanged, this, &frmPrincipal::playerChanged);
    connect(n, &playback::PlayerNotifier::durationChanged, this, [this] { MostrarDuracion(); });
    connect(n, &playback::PlayerNotifier::noAudioOutput, this, [this](const QString& message) {
        if (!std::exchange(toldNoOutput_, true))
            messages_.MsgBox(message, editing::MessageBoxes::vbOKOnly, QStringLiteral("Melofon"));
    });
}

void frmPrincipal::cmdPlay_Click() { walk_->play(); }

void frmPrincipal::cmdPause_Click() {
    mpReproductor.Pause();
    updateStripButtons();
}

void frmPrincipal::cmdStop_Click() {
    mpReproductor.Stop();
    walk_->stop(); // sets Detenido
    updateStripButtons();
    markPlayingRow();
}

quint64 frmPrincipal::ComenzarArchivo(const QString& path) {
    // The walk takes the player over from the single-file strip.
    stripOwnsPlayer_ = false;
    updateStripButtons();
    mpReproductor.setFileName(path);
    walkOpen_ = mpReproductor.Opens();
    mpReproductor.Play();
    return walkOpen_;
}

void frmPrincipal::playerStarted(quint64 open, bool handedOver) {
    const bool walks = handedOver || open == walkOpen_;
    if (walks || open == stripOpen_) {
        walkPlaying_ = walks;
        MostrarArchivo();
        stripOwnsPlayer_ = !walks;
        updateStripButtons();
    }
    walk_->started(open, handedOver);
    markPlayingRow();
    holdBoxPaint();
}

void frmPrincipal::playerFailed(quint64 open, const QString& message) {
    // The walk passes over what it cannot play; a file chosen by hand is explained.
    if (open == stripOpen_)
        messages_.MsgBox(message, editing::MessageBoxes::vbOKOnly, QStringLiteral("Melofon"));
    walk_->failed(open);
    holdBoxPaint();
}

void frmPrincipal::playerChanged() {
    updateStripButtons();
    walk_->playerChanged();
    markPlayingRow();
    holdBoxPaint();
}

// While the walk waits to hear whether a file started, the file box is not repainted: a
// run of files that cannot be opened moves its rows once each, and painting every move
// would cost more than the rest of the walk. A start that takes long shows at once.
void frmPrincipal::holdBoxPaint() {
    const bool hold = walk_->starting();
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
    const bool playing = walkPlaying_ && sounding(mpReproductor.PlayState());
    const QString text = playing ? walk_->playingEntry() : QString();
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

void frmPrincipal::MostrarArchivo() {
    ignoringFailure([&] { setWindowTitle(QStringLiteral("Melofon - ") + NombreMostrado(mpReproductor.FileName())); });
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
        if (walkPlaying_) {
            const double steps = std::nearbyint(seconds / hsTiempo->maximum());
            SegundosPorPaso = qint32(std::clamp(steps, double(INT32_MIN), double(INT32_MAX)));
        }
    });
}

void frmPrincipal::Timer1_Timer() {
    if (stripOwnsPlayer_)
        updateStripButtons(); // the strip's file may have ended since
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

void frmPrincipal::cmdPlayArchivo_Click() {
    const QString path = txtArchivo->text();
    if (path.isEmpty())
        return;
    // Shown when it starts; a file the player refuses is explained then (playerFailed).
    mpReproductor.setFileName(path);
    stripOpen_ = mpReproductor.Opens();
    mpReproductor.Play();
}

void frmPrincipal::cmdPauseArchivo_Click() {
    mpReproductor.Pause();
    updateStripButtons();
}

void frmPrincipal::cmdStopArchivo_Click() {
    mpReproductor.Stop();
    updateStripButtons();
}

void frmPrincipal::updateStripButtons() {
    int state = playback::MediaPlayer::Closed;
    ignoringFailure([&] { state = mpReproductor.PlayState(); });
    if (!sounding(state) && state != playback::MediaPlayer::Opening)
        stripOwnsPlayer_ = false;
    cmdPauseArchivo->setEnabled(stripOwnsPlayer_);
    cmdStopArchivo->setEnabled(stripOwnsPlayer_);
}

} // namespace melofon::app
