#pragma once

// Private to the player, in the engine: one pipeline and the worker thread that drives it.

#include "playback/gst_engine.h"
#include "playback/gst_failure.h"

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

// GStreamer's start, once in the process; `started` is told right after (gst_engine.cpp).
void startGStreamer(const std::function<void()>& started = {});
// Its own recognition of the kinds it plays (gst_elements.cpp).
void recogniseOwnKindsFirst();

// The player's thread queues commands; GStreamer's threads queue their bus messages into
// the same queue; the worker takes them in order and reports back.
struct GstPlayer::Session : GstPlayer::Engine {
    using Job = GstPlayer::Job;

    static const EngineEntry entry;
    static std::shared_ptr<Engine> begin(EngineSetup setup);

    std::weak_ptr<Session> self;
    SinkFactory makeSink;
    QByteArray sinkDescription; // the output's, when there is no makeSink
    QByteArray soundfont;
    std::function<void()> engineStarted; // told right after GStreamer starts

    // The link back to the player; cleared when the player lets the session go.
    std::mutex linkMutex;
    QObject* target = nullptr;
    std::function<void(const Report&)> deliver;

    std::condition_variable changed; // a job for the worker
    std::deque<Job> jobs;
    bool executing = false;
    bool settled = true; // no open is in progress

    std::atomic<GstElement*> pipeline{nullptr};
    // Messages posted before the last reset of the pipeline are about a file gone.
    std::atomic<unsigned> epoch{0};

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

    ~Session() override;

    void push(Job job) override;
    bool reusable() override;
    void detach() override;
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
    void setPlan(const QueuedFiles& files, const QHash<QString, SoundFile>& found = {}) override;
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
