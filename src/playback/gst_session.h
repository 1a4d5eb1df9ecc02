#pragma once

// Private to the player: one pipeline and the worker thread that drives it.

#include "playback/gst_failure.h"
#include "playback/gst_player.h"
#include "playback/sound_file.h"

#include <gst/gst.h>

#include <QHash>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace melofon::playback {

// GStreamer's start, once in the process (gst_player.cpp).
void startGStreamer();
// The plugins Melofon plays with, as GStreamer's list of the plugins it may load; its own
// recognition of the kinds it plays (gst_elements.cpp).
QByteArray ownPluginList();
void recogniseOwnKindsFirst();

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

// The player's thread queues commands; GStreamer's threads queue their bus messages into
// the same queue; the worker takes them in order and reports back. The worker holds the
// session alive until it has let its pipeline go, however long that takes.
struct GstPlayer::Session {
    struct Job {
        enum Kind { Open, Play, Pause, Stop, Close, Volume, Message, Measured, Quit };
        Job(Kind k = Quit) : kind(k) {}
        Kind kind;
        quint64 open = 0;
        QString path;
        int volume = 0;
        bool play = false; // an Open to be played once open
        GstMessage* message = nullptr;
        unsigned epoch = 0;
        double seconds = 0; // Measured: the true length of the file of `open`
    };

    quint64 id = 0;
    std::weak_ptr<Session> self;
    SinkFactory makeSink;
    QByteArray sinkDescription; // the output's, when there is no makeSink
    QByteArray soundfont;

    // The link back to the player; cleared when the player lets the session go.
    std::mutex linkMutex;
    PlayerNotifier* target = nullptr;
    GstPlayer* player = nullptr;

    std::mutex mutex;
    std::condition_variable changed; // a job for the worker
    std::condition_variable ended;   // the worker is done
    std::deque<Job> jobs;
    bool executing = false;
    bool settled = true; // no open is in progress
    bool finished = false;

    std::atomic<GstElement*> pipeline{nullptr};
    // Messages posted before the last reset of the pipeline are about a file gone.
    std::atomic<unsigned> epoch{0};
    // Read by the player's thread, which never queries the pipeline itself: a query can
    // wait for a lock a streaming thread holds while it opens a file.
    std::atomic<gint64> positionNs{0};
    std::atomic<gint64> positionAtNs{0}; // when it was read, on the steady clock
    std::atomic<double> gain{-1};

    // The gapless hand-over. The player publishes what is to follow; streaming threads take
    // from it and decide at each joint. The lock is held for nothing but these fields.
    struct Taken {
        QueuedFile file;
        GstObject* bin = nullptr; // its decoder, to tell its errors from the playing file's
        GstElement* source = nullptr; // its source, whose bin decodes it
        bool failed = false;
    };
    mutable std::mutex nextMutex;
    QueuedFiles plan;
    QHash<QString, SoundFile> planned; // what the files of the plan were found to hold
    std::deque<Taken> taken;  // given to playbin, in order, not sounding yet
    quint64 playingCue = 0;   // of the file whose stream reaches the output; 0 the one opened
    QByteArray playingStream; // its stream id
    bool accepted = false;    // the front of `taken` passed its joint
    bool dropping = false;    // the stream after a refused joint is thrown away
    bool handoverAllowed = false;
    std::optional<QueuedFile> streamStarted; // a taken file's stream reached the output
    bool audioSeen = false;   // a stream of the file opened reached the output

    // The worker's own state.
    enum Phase { None, Prerolling, Ready, Playing, Paused, Rewound } phase = None;
    quint64 open = 0;
    QString path;
    bool wantPlay = false;
    bool wantPause = false;
    bool startReported = false;
    bool buffering = false;
    bool engineHeld = false; // paused by the sound server, not by the user
    int volume = 0;
    // The file's true length, where we know it better than GStreamer does (WAV, MP3); 0
    // leaves it to GStreamer. An MP3's is measured on a thread of its own meanwhile, and
    // its start is told once the length is known: the labels are set once, and right.
    double trueSeconds = 0;
    bool measuring = false;
    bool startHeld = false;
    std::chrono::steady_clock::time_point heldSince;
    QString missingDecoder; // caps of a stream no decoder could take, for the message
    GstElement* sink = nullptr;
    gint64 positionWhenDropping = -1;

    ~Session();

    void push(Job job);
    bool reusable();
    void detach();
    void report(Report r);
    static void run(std::shared_ptr<Session> self);

    // The worker's steps (gst_session.cpp).
    void execute(Job& job);
    void teardown();
    void reset(GstState target);
    GstState idleState() const;
    void beginFile(bool alone); // alone: hands over nothing
    void fail(const QString& message);
    void failWith(const Failure& failure, const QString& what);
    bool makePipeline(QString& why);
    GstElement* makeOutput(QString& why);
    void setUp(GstElement* element);
    bool wanted(GstMessage* message) const;
    void applyVolume();
    void openFile(quint64 number, const QString& file, int level, bool handOver = true);
    void prerolled();
    void startMeasuring(const QString& file);
    void measured(quint64 number, double seconds);
    void started();
    void stopWaitingForLength();
    void tellHeldStart();
    double duration() const;
    bool silentFallback() const;
    void play();
    void pause();
    void stop();
    void samplePosition();
    void finishFile();
    void endIfRefusedJointIsOver();
    void handle(GstMessage* message);
    void handleError(GstMessage* message);
    void handleRequestState(GstMessage* message);
    void handleBuffering(GstMessage* message);
    void handleTags(GstMessage* message);
    void tellState(int state);

    // The hand-over (gst_handover.cpp).
    void setPlan(const QueuedFiles& files, const QHash<QString, SoundFile>& found = {});
    void clearHandover();
    static void release(Taken& t);
    std::optional<QueuedFile> follows(quint64 cue) const;
    void handOver(GstElement* bin);
    void sourceSetUp(GstElement* source);
    GstPadProbeReturn atOutput(GstPad* pad, GstPadProbeInfo* info);
    bool decideJoint(GstPad* pad, GstPadProbeInfo* info);
    std::optional<Report> nextFailure(GstObject* source, const Failure& failure);
    void streamStart();
};

} // namespace melofon::playback
