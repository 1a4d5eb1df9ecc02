#include "playback/playback_controller.h"

namespace melofon::playback {

namespace {

bool sounding(int state) { return state == MediaPlayer::Playing || state == MediaPlayer::Paused; }

} // namespace

PlaybackController::PlaybackController(MediaPlayer& player, Controls c, QObject* parent)
    : QObject(parent), player_(player) {
    walk_ = std::make_unique<PlaylistWalk>(WalkControls{
        c.lstContenido, c.lstListas, std::move(c.todas), std::move(c.aleatorio), std::move(c.continuado),
        c.detenido, [this] { return state(); },
        [this](const QString& path) { return startWalkFile(path); },
        [this](const QueuedFiles& files) {
            walkPlan_ = files;
            publish();
        }});
    PlayerNotifier* n = player_.notifier();
    connect(n, &PlayerNotifier::started, this, &PlaybackController::playerStarted);
    connect(n, &PlayerNotifier::failed, this, &PlaybackController::playerFailed);
    connect(n, &PlayerNotifier::nextFailed, this, [this](quint64 cue, const QString&) { walk_->nextFailed(cue); });
    connect(n, &PlayerNotifier::stateChanged, this, &PlaybackController::playerChanged);
    connect(n, &PlayerNotifier::durationChanged, this, &PlaybackController::durationChanged);
    connect(n, &PlayerNotifier::noAudioOutput, this, &PlaybackController::noAudioOutput);
    connect(n, &PlayerNotifier::tagsChanged, this, &PlaybackController::tagsChanged);
}

PlaybackController::~PlaybackController() = default;

int PlaybackController::state() const { return heldPause_ ? int(MediaPlayer::Paused) : player_.PlayState(); }

bool PlaybackController::walkPlaying() const { return walkPlaying_ && sounding(player_.PlayState()); }

QString PlaybackController::playingEntry() const { return walkPlaying() ? walk_->playingEntry() : QString(); }

void PlaybackController::play() { walk_->play(); }

void PlaybackController::pause() {
    if (releaseHeldPause())
        return;
    const bool opening = player_.PlayState() == MediaPlayer::Opening;
    player_.Pause();
    pausedOpening_ = opening && player_.PlayState() == MediaPlayer::Paused;
    emit stateChanged();
}

void PlaybackController::resume() {
    if (state() == MediaPlayer::Paused)
        pause();
}

// Pause or Play again after a pause held over a file that failed: the walk goes on.
bool PlaybackController::releaseHeldPause() {
    if (!std::exchange(heldPause_, false))
        return false;
    walk_->playerChanged();
    publish();
    emit stateChanged();
    return true;
}

void PlaybackController::stop() {
    heldPause_ = pausedOpening_ = false;
    player_.Stop();
    stripOwns_ = false;
    forgetPublished();
    walk_->stop(); // sets Detenido
    emit stateChanged();
}

bool PlaybackController::canSkip() const { return walk_->running() || walkPlaying(); }

void PlaybackController::next() {
    if (canSkip())
        endPlayingFile();
}

void PlaybackController::previous() {
    if (!canSkip())
        return;
    if (walk_->previous()) {
        endPlayingFile();
        return;
    }
    if (walk_->running())
        return;
    // The walk is over and cannot be taken up again, but its last file plays: from its
    // start again.
    heldPause_ = pausedOpening_ = false;
    player_.Stop();
    walkOpen_ = player_.Opens();
    player_.Play();
    emit stateChanged();
}

// The walk takes its next entry as if the playing file had ended.
void PlaybackController::endPlayingFile() {
    heldPause_ = pausedOpening_ = false;
    player_.Stop();
    stripOwns_ = false;
    forgetPublished();
    walk_->playerChanged();
    publish();
    emit stateChanged();
}

void PlaybackController::playFile(const QString& path) {
    if (path.isEmpty())
        return;
    heldPause_ = pausedOpening_ = false;
    // Shown when it starts; a file the player refuses is explained then.
    player_.setFileName(path);
    forgetPublished();
    stripOpen_ = player_.Opens();
    player_.Play();
    publish();
}

void PlaybackController::pauseFile() { pause(); }

void PlaybackController::stopFile() {
    player_.Stop();
    stripOwns_ = false;
    forgetPublished();
    emit stateChanged();
}

void PlaybackController::userChanged() {
    walk_->userChanged();
    publish();
}

quint64 PlaybackController::startWalkFile(const QString& path) {
    // The walk takes the player over from the single-file strip.
    stripOwns_ = false;
    heldPause_ = pausedOpening_ = false;
    player_.setFileName(path);
    forgetPublished();
    walkOpen_ = player_.Opens();
    player_.Play();
    return walkOpen_;
}

// The player is given what the walk wants to follow its file, and nothing while the
// strip's file plays: that one ends on its own, and the walk then goes on.
void PlaybackController::publish() {
    QueuedFiles files;
    if (!stripOwns_ && walk_->running())
        files = walkPlan_;
    if (files == published_)
        return;
    published_ = files;
    player_.setNextFiles(files);
}

// setFileName and Stop clear what the player was given.
void PlaybackController::forgetPublished() { published_.clear(); }

void PlaybackController::playerStarted(quint64 open, const QString& path, quint64 cue) {
    pausedOpening_ = false;
    const bool walks = (cue != 0 && walk_->queued(cue)) || (cue == 0 && open == walkOpen_);
    if (walks || open == stripOpen_) {
        walkPlaying_ = walks;
        stripOwns_ = !walks;
        playingFile_ = path;
        emit fileStarted(path, walks);
    }
    walk_->started(open, cue);
    publish();
    emit stateChanged();
}

void PlaybackController::playerFailed(quint64 open, const QString& message) {
    // The walk passes over what it cannot play; a file chosen by hand is explained.
    if (open == stripOpen_)
        emit refused(message);
    // A pause asked for while it opened is never undone by the walk.
    heldPause_ = std::exchange(pausedOpening_, false) && open == walkOpen_;
    walk_->failed(open);
    publish();
    emit stateChanged();
}

void PlaybackController::playerChanged() {
    const int state = player_.PlayState();
    if (!sounding(state) && state != MediaPlayer::Opening)
        stripOwns_ = false;
    walk_->playerChanged();
    publish();
    emit stateChanged();
}

} // namespace melofon::playback
