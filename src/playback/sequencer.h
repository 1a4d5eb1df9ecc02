#pragma once

#include "playback/media_player.h"
#include "store/list_views.h"

#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace melofon::playback {

// 1 to `maximo` (1 when `maximo` is below 1), uniformly; the generator is seeded once.
int NumeroAlAzar(int maximo);
// Makes the draws repeatable, for tests.
void seedNumeroAlAzar(unsigned seed);

// What a playlist walk works on. The walk keeps no cursor of its own: its position is the
// current row of the file box and, walking all playlists, of the playlist box.
struct WalkControls {
    store::ListBox& lstContenido;
    store::ListBox& lstListas;
    std::function<bool()> todas;      // read once, when the walk starts
    std::function<bool()> aleatorio;  // read at each use
    std::function<bool()> continuado; // read at each use
    bool& detenido;                   // set by Stop; the walk ends at once
    std::function<int()> playState;   // the player's state (MediaPlayer::PlayState)
    // Asks the player to open and play `path`; returns the player's number for that open.
    // How it went comes back through PlaylistWalk::started or failed. Throwing counts as
    // failed.
    std::function<quint64(const QString& path)> startFile;
    // The files the player is to go on with, in order and without a gap, when the playing
    // one ends, as the walk's rules give them now; empty where that is not known yet.
    std::function<void(const QueuedFiles& files)> queueNext;
};

// The play command's walk, driven by events: it hands the checked entries to the player
// one after the other, each when the previous has ended. Nothing in it waits: each event
// does what it can at once and returns. Every failure inside is passed over.
class PlaylistWalk {
public:
    explicit PlaylistWalk(WalkControls controls);

    // The play command: a walk from the file box's first entry, replacing any walk running.
    void play();
    // The stop command's part: sets Detenido and ends the walk.
    void stop();
    // Makes the entry that played before the playing one the next to start: the checked
    // entry before it in list order, or the one before it in its random round; with none,
    // the playing entry itself. A walk over since its last entry started is taken up again.
    // False when there is nothing to go back from (stopped, a file still opening, the entry
    // playing no longer in the box): the caller then leaves the player alone.
    bool previous();
    bool running() const { return running_; }
    // A file was asked for and the player has not said yet how it went.
    bool starting() const { return pending_; }

    // The player's news. `open` is the player's number of the file that started or failed;
    // `cue` the number the walk queued a file with, when it followed without a gap.
    void started(quint64 open, quint64 cue);
    void failed(quint64 open);
    void nextFailed(quint64 cue);
    // The player's state changed: a file may have ended, so the walk may go on.
    void playerChanged();
    // The user did something (a click, a check mark, a box refilled, an option), or Timer1
    // ticked: a round that found nothing to play tries again only then.
    void userChanged();

    // The file box row of the walk's entry that plays, or empty.
    QString playingEntry() const { return playing_.text; }
    // Whether `cue` is one the walk queued.
    bool queued(quint64 cue) const { return cues_.count(cue) != 0; }

private:
    struct Step {
        bool start = false;   // the box's current row is to be started
        bool advance = false; // then move on to the following row (list order)
        bool boxDone = false; // nothing is left of this pass over the box
    };
    struct Entry {
        QString text;
        int row = -1;
    };
    // Where an entry stands in the walk: a row of one pass over one filling of the box, or
    // a place in one random round. Names an entry queued, and one the player refused.
    using Place = std::tuple<bool, quint64, quint64, int>; // random, filling or round, pass, row or index
    struct Queued {
        Place place;
        Entry entry;
    };

    void pump();
    bool finish(const Step& step, bool startedIt);
    void end();
    void reconcile();
    void resumeAfterPlaying();
    void updateNext();
    std::vector<Queued> lookAhead() const;
    void commit(const Queued& queued);
    Place placeInOrder(int row) const;
    Place placeInRound(std::size_t index) const;
    bool refused(const Place& place) const { return refused_.count(place) != 0; }
    QString listText() const;

    // The walk's position within the file box: in list order it is the box's current row;
    // in random order a round, a shuffled list of the entries checked when it began.
    Step next(bool random);
    bool advance();
    void restart();
    Step nextInOrder();
    Step nextRandom();

    WalkControls w_;
    bool running_ = false;
    bool all_ = false;
    bool pumping_ = false;
    bool again_ = false;       // an event arrived while pumping
    bool dozing_ = false;      // a round started nothing: wait for the user or a tick
    bool pending_ = false;     // a start was asked for, its outcome not known yet
    quint64 pendingOpen_ = 0;
    Step pendingStep_;
    Entry requested_;
    Entry playing_;
    QueuedFiles queued_;       // handed to the player to follow without a gap
    std::map<Place, quint64> cueOf_;
    std::map<quint64, Queued> cues_;
    quint64 lastCue_ = 0;
    std::set<Place> refused_;  // queued entries the player could not play
    quint64 pass_ = 0;         // passes over the box since the walk began
    bool startedThisCycle_ = false;
    bool nextPlaylistDue_ = false;
    bool exhausted_ = false;   // the rows after the playing entry were removed
    QString list_;             // the playlist box row the file box was filled from
    quint64 boxGeneration_ = 0;

    bool random_ = false;
    std::vector<int> round_;
    std::size_t nextInRound_ = 0;
    quint64 roundGeneration_ = 0;
    quint64 roundSerial_ = 0;
};

} // namespace melofon::playback
