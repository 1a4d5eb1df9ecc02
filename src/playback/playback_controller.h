#pragma once

#include "playback/media_player.h"
#include "playback/sequencer.h"
#include "store/list_views.h"

#include <QObject>

#include <functional>
#include <memory>

namespace melofon::playback {

// The one owner of what plays: the playlist walk, the single-file strip's file and the
// player they share. The window's buttons and the desktop's controls both call its
// commands; nothing presses another's buttons. It publishes, after every change that can
// alter it, what is to follow the playing file, and the player's news comes back to it.
class PlaybackController : public QObject {
    Q_OBJECT
public:
    struct Controls {
        store::ListBox& lstContenido;
        store::ListBox& lstListas;
        std::function<bool()> todas;
        std::function<bool()> aleatorio;
        std::function<bool()> continuado;
        bool& detenido;
    };
    PlaybackController(MediaPlayer& player, Controls controls, QObject* parent = nullptr);
    ~PlaybackController() override;

    // The playlist panel's commands.
    void play();   // a walk from the file box's first entry, replacing any walk running
    void pause();  // pauses what plays or opens, resumes what is paused
    void resume(); // plays on a paused file; nothing else
    void stop();   // stops the player and the walk, and sets Detenido
    // During a walk: ends the playing file at once, and the walk goes on by its rules.
    void next();
    // During a walk: starts the entry that played before the playing one, or the playing
    // one again when there is none.
    void previous();
    // A walk runs, or its last file still plays: Next and Previous have something to do.
    bool canSkip() const;
    // The single-file strip's commands: the file replaces what plays; when it ends, a walk
    // goes on with its next entry.
    void playFile(const QString& path);
    void pauseFile();
    void stopFile();
    // Something the walk depends on changed (a click, a check mark, a refill, an option, a
    // tick): a walk waiting for it goes on, and what is to follow is published again.
    void userChanged();

    MediaPlayer& player() { return player_; }
    const MediaPlayer& player() const { return player_; }
    int state() const;
    PlaylistWalk& walk() { return *walk_; }
    bool walkRunning() const { return walk_->running(); }
    // A file was asked for and the player has not said yet how it went.
    bool walkStarting() const { return walk_->starting(); }
    // The file that sounds (or is paused) is the walk's / the strip's.
    bool walkPlaying() const;
    bool stripOwnsPlayer() const { return stripOwns_; }
    // The file box row of the walk's file that sounds, or empty.
    QString playingEntry() const;
    // The file the player last said had started.
    QString playingFile() const { return playingFile_; }

signals:
    // `path` began to sound; `walks` when it is a walk's file.
    void fileStarted(const QString& path, bool walks);
    void durationChanged();
    // The player's state, or who holds it, changed.
    void stateChanged();
    // A file chosen by hand cannot be played.
    void refused(const QString& message);
    void noAudioOutput(const QString& message);
    void tagsChanged();

private:
    quint64 startWalkFile(const QString& path);
    void endPlayingFile();
    void publish();
    void forgetPublished();
    void playerStarted(quint64 open, const QString& path, quint64 cue);
    void playerFailed(quint64 open, const QString& message);
    void playerChanged();
    bool releaseHeldPause();

    MediaPlayer& player_;
    std::unique_ptr<PlaylistWalk> walk_;
    QueuedFiles walkPlan_;  // what the walk wants to follow its file
    QueuedFiles published_; // what the player was given
    quint64 walkOpen_ = 0;  // the player's number of the last file the walk asked for
    quint64 stripOpen_ = 0; // and of the strip's
    bool walkPlaying_ = false;
    bool stripOwns_ = false;
    // Pause was pressed while the walk's file opened; if that file then fails, the walk
    // holds paused rather than starting its next entry.
    bool pausedOpening_ = false;
    bool heldPause_ = false;
    QString playingFile_;
};

} // namespace melofon::playback
