#pragma once

// Private to the player: a pipeline and its worker as the player's side sees them. Nothing
// here uses GStreamer: the player is in the program, the sessions in the engine, a library
// the program loads with its first file (gst_engine_loader.cpp).

#include "playback/gst_player.h"
#include "playback/sound_file.h"

#include <QHash>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

struct _GstMessage;

namespace melofon::playback {

struct GstPlayer::Report {
    enum Kind {
        Prerolled,       // open and ready to play
        Started,         // the file opened began to sound
        HandedOver,      // a queued file followed without a gap: `path`, `cue`
        Ended,           // the file played to its end
        Failed,          // the file opened cannot be played: `message`
        NextFailed,      // the queued file of `cue` cannot be played; `ended` if the one before is over
        Joint,           // the playing file is over and the queued `cue` is to sound next
        DurationChanged,
        NoOutput,
        Unavailable,     // nothing can be played: `message` says why
        EngineState,     // the engine paused or resumed the file itself: `state`
        Tags,            // the playing file's tags reached the output: `tags`
    };
    explicit Report(Kind k) : kind(k) {}
    Kind kind;
    quint64 session = 0;
    quint64 open = 0;
    double duration = 0;
    bool ended = false;
    int state = 0;
    QString path;
    quint64 cue = 0;
    QString message;
    FileTags tags;
};

struct GstPlayer::Job {
    enum Kind { Open, Play, Pause, Stop, Close, Volume, Message, Measured, Quit };
    Job(Kind k = Quit) : kind(k) {}
    Kind kind;
    quint64 open = 0;
    QString path;
    int volume = 0;
    bool play = false; // an Open to be played once open
    _GstMessage* message = nullptr;
    unsigned epoch = 0;
    double seconds = 0; // Measured: the true length of the file of `open`
};

// One pipeline and its worker. The player queues jobs; the worker reports back through
// `deliver`, on the player's thread, and holds the session alive until it has let its
// pipeline go, however long that takes.
struct GstPlayer::Engine {
    virtual ~Engine() = default;
    virtual void push(Job job) = 0;
    // Idle, with nothing queued: the next file may use it.
    virtual bool reusable() = 0;
    // The player lets it go: nothing more is reported.
    virtual void detach() = 0;
    // What is to follow the playing file, with what the files were found to hold.
    virtual void setPlan(const QueuedFiles& files, const QHash<QString, SoundFile>& found = {}) = 0;

    quint64 id = 0;
    std::mutex mutex;
    std::condition_variable ended; // the worker is done
    bool finished = false;
    // Read by the player's thread, which never queries the pipeline itself: a query can
    // wait for a lock a streaming thread holds while it opens a file.
    std::atomic<std::int64_t> positionNs{0};
    std::atomic<std::int64_t> positionAtNs{0}; // when it was read, on the steady clock
    std::atomic<double> gain{-1};
};

struct GstPlayer::EngineSetup {
    quint64 id = 0;
    SinkFactory makeSink;
    QByteArray sinkDescription; // the output's, when there is no makeSink
    QByteArray soundfont;
    QObject* target = nullptr; // reports are delivered in its thread
    std::function<void(const Report&)> deliver;
    std::function<void()> started; // told once, on a worker, right after GStreamer starts
};

// What the engine offers: a new session, its worker started; GStreamer started now.
struct GstPlayer::EngineEntry {
    std::shared_ptr<Engine> (*newSession)(EngineSetup setup);
    void (*start)();
};

} // namespace melofon::playback
