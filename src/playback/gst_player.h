#pragma once

#include "playback/media_player.h"
#include "playback/sound_file.h"

#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

// GStreamer stays out of every public header: only the player's own sources see it.
struct _GstElement;

namespace melofon::playback {

// The media player on GStreamer's playbin, audio only.
//
// No member waits for the engine, and the window's thread never calls into it. Each
// pipeline is driven by a worker thread of its own (a session): opening, prerolling,
// pausing, stopping and tearing down happen there, and what the worker finds reaches this
// object through the event loop of the thread that made it. A session that is still busy
// when the next file is opened (a file on a share that does not answer, say) is left to
// finish on its own, and the file goes to a new session.
//
// A file that cannot be opened leaves the player Closed with FileName() still giving the
// name written, so that Play then fails with "no file open" rather than playing the file
// before. A file that fails while playing becomes Stopped; the reason is kept in lastError().
// An open, or a file handed over, that gives neither sound nor an error within giveUpAfter()
// is given up as if it had failed.
class GstPlayer : public MediaPlayer {
public:
    // Makes the audio output of a new pipeline, for tests and benchmarks that look at the
    // samples. Called on a worker thread.
    using SinkFactory = std::function<_GstElement*()>;

    // `audioSink`: a gst-launch style description of the output, e.g. "autoaudiosink" or
    // "fakesink sync=false". `soundfont`: the General MIDI soundfont MIDI files are played
    // with; empty lets the synthesizer look for one in the usual places.
    explicit GstPlayer(const QString& audioSink = QStringLiteral("autoaudiosink"),
                       const QString& soundfont = QString());
    explicit GstPlayer(SinkFactory makeSink, const QString& soundfont = QString());
    ~GstPlayer() override;
    GstPlayer(const GstPlayer&) = delete;
    GstPlayer& operator=(const GstPlayer&) = delete;

    // For the program, at its start and before any other thread: GStreamer, once started,
    // knows only the plugins Melofon plays with, from a registry of its own. A machine's
    // other plugins (libav's hundreds of decoders, say) would otherwise be read into memory
    // at every start, and their formats parsed at every file. A list of the user's own
    // (GST_PLUGIN_LOADING_WHITELIST) is kept.
    static void keepToOwnPlugins();
    // Starts GStreamer now, for a program that links the engine in and uses GStreamer
    // itself; the player starts it with its first file, on a worker, so that a window that
    // plays nothing never loads it.
    static void startEngine();

    // Empty while the player can play, as far as it knows; otherwise why it cannot (no
    // engine, no playbin, an output that cannot be made), found with the first file and said
    // once by noAudioOutput(); every file then fails with that reason.
    QString unavailable() const { return unavailable_; }

    QString FileName() const override { return fileName_; }
    void setFileName(const QString& path) override;
    double CurrentPosition() const override;
    double Duration() const override { return duration_; }
    int PlayState() const override { return state_; }
    int Volume() const override { return volume_; }
    void setVolume(int volume) override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    void setNextFiles(const QueuedFiles& files) override;
    QueuedFiles NextFiles() const override { return next_; }
    FileTags Tags() const override { return tags_; }
    bool HeldByEngine() const override { return engineHeld_; }
    quint64 Opens() const override { return opens_; }
    PlayerNotifier* notifier() override { return notifier_.get(); }

    // Why the last file stopped before its end; empty when it did not.
    QString lastError() const { return lastError_; }
    // The linear gain the current pipeline applies, for tests of the volume scale; -1
    // before any file was opened.
    double appliedGain() const;
    // How long an open or a hand-over may go without sound or an error (10 s).
    std::chrono::milliseconds giveUpAfter() const { return giveUpAfter_; }
    void setGiveUpAfter(std::chrono::milliseconds wait) { giveUpAfter_ = wait; }

    // The player's own parts, in its private headers: the side of a pipeline it sees
    // (gst_engine.h), and the pipeline and its worker (gst_session.h), which use GStreamer
    // and live in a library of their own, the engine, loaded with the first file.
    struct Report; // what a session tells the player
    struct Job;    // what the player asks of a session
    struct Engine;
    struct EngineSetup;
    struct EngineEntry;
    struct Session;
    // For tests and benchmarks, which link the engine in rather than load it.
    static void linkEngine(const EngineEntry* engine);

private:
    struct ProbeLink;
    enum class Probe { Pending, Playable, Refused };
    struct Probed {
        Probe result = Probe::Pending;
        std::chrono::steady_clock::time_point at;
        SoundFile found;
    };

    void init(const QString& soundfont);
    void deliver(const Report& report);
    std::shared_ptr<Engine> session();
    void retire(const std::shared_ptr<Engine>& session);
    void setState(int state);
    void giveUp();
    void giveUpHandover();
    void publishNext();
    void startProbe(const QString& path);
    void probed(const QString& path, Probe result, const SoundFile& found);
    void notifyLater();
    void flushNotifications();

    std::unique_ptr<PlayerNotifier> notifier_;
    SinkFactory makeSink_;
    QByteArray sinkDescription_; // or, from a description, made with it
    QByteArray soundfont_;
    QString unavailable_;
    std::shared_ptr<Engine> session_;
    std::vector<std::weak_ptr<Engine>> retired_;
    quint64 sessions_ = 0;

    QString fileName_;
    QueuedFiles next_;
    FileTags tags_;
    bool notifyTags_ = false;
    int state_ = Closed;
    double duration_ = 0;
    int volume_ = kMaxVolume;
    QString lastError_;
    quint64 opens_ = 0;
    quint64 workerOpen_ = 0; // the open the current session's reports belong to
    bool playRequested_ = false;
    bool prerolled_ = false;
    bool engineHeld_ = false; // paused by the engine, not by a command
    bool toldNoOutput_ = false;
    bool notifyPosted_ = false;
    bool notifyState_ = false;
    bool notifyDuration_ = false;

    // Files to be queued are looked at first on a thread of their own, so that one on a
    // share that does not answer holds neither the window nor a streaming thread.
    std::shared_ptr<ProbeLink> probeLink_;
    QHash<QString, Probed> probed_;
    int probesInFlight_ = 0;

    std::chrono::milliseconds giveUpAfter_{10000};
    QTimer* openWait_ = nullptr;     // an open or a start without news
    QTimer* handoverWait_ = nullptr; // a file handed over whose stream has not started
    QueuedFile handingOver_;
};

} // namespace melofon::playback
