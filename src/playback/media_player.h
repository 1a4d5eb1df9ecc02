#pragma once

#include <QObject>
#include <QString>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace melofon::playback {

// A member of the media player that could not do its work. The message is Spanish, names
// the file where there is one, and is meant for the user.
class PlayerError : public std::runtime_error {
public:
    explicit PlayerError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// A file to follow the playing one without a gap, with the caller's number for this choice
// (never 0), which the player names again when it starts or fails.
struct QueuedFile {
    QString path;
    quint64 cue = 0;
    bool operator==(const QueuedFile&) const = default;
};
using QueuedFiles = std::vector<QueuedFile>;

// What a file says of itself in its tags; empty where it says nothing.
struct FileTags {
    QString title;
    QString artist;
    QString album;
    int track = 0;
    bool operator==(const FileTags&) const = default;
};

// Tells the window what the player did. Every signal is emitted from the event loop, never
// from inside a member call; the state changes made before the loop runs make one
// stateChanged, even when the state is back where it was: read the player when it arrives.
class PlayerNotifier : public QObject {
    Q_OBJECT
signals:
    // PlayState() changed: a file opened, started, ended or failed, a member changed it, or
    // the engine did on its own (the sound server paused it for a call, a slow source).
    void stateChanged();
    // Duration() changed, e.g. an estimate was replaced by the figure the decoder found.
    void durationChanged();
    // `path` began to sound. `open` is the Opens() count that names it; `cue` is the number
    // it was queued with when it followed the file before without a gap, 0 when it was
    // opened with setFileName.
    void started(quint64 open, const QString& path, quint64 cue);
    // The file of `open` could not be opened or played to its end; `message` says why.
    void failed(quint64 open, const QString& message);
    // The queued file of `cue` cannot be played; the file playing plays on to its end.
    void nextFailed(quint64 cue, const QString& message);
    // Said once: there is no sound output, so files play without being heard.
    void noAudioOutput(const QString& message);
    // Tags() of the playing file changed.
    void tagsChanged();
};

// The media player component (mpReproductor) as the program uses it. Opening, starting and
// stopping are requests: each member returns at once, and what the engine then does arrives
// through the notifier.
class MediaPlayer {
public:
    // Opening: a file is being opened or started, or waits for its source, and does not
    // sound; like playing and paused, a walk waits while it lasts.
    enum PlayState { Stopped = 0, Paused = 1, Playing = 2, Opening = 3, Closed = 6 };
    static constexpr int kMinVolume = -10000; // hundredths of a decibel
    static constexpr int kMaxVolume = 0;

    // Nothing is open, or the file open has ended or was stopped: the next one may start.
    static bool idle(int state) { return state == Stopped || state == Closed; }
    // The volume's hundredths of a decibel as a linear gain (1 at the loudest), and back.
    static double gainOf(int volume) { return std::pow(10.0, volume / 2000.0); }
    static int volumeOf(double gain) {
        if (!(gain > 0))
            return kMinVolume;
        const double v = std::round(2000.0 * std::log10(gain));
        return v < kMinVolume ? kMinVolume : v > kMaxVolume ? kMaxVolume : int(v);
    }

    virtual ~MediaPlayer() = default;

    // Writing starts opening the file (an empty name closes it); a following Play starts it
    // from the beginning. A file that cannot be opened ends in Closed, with failed(). Reading
    // gives the name of the file last written or handed over, or the empty text.
    virtual QString FileName() const = 0;
    virtual void setFileName(const QString& path) = 0;
    // Seconds from the start of the file.
    virtual double CurrentPosition() const = 0;
    // Seconds; known when the file has started (started()), refined by durationChanged().
    virtual double Duration() const = 0;
    virtual int PlayState() const = 0;
    // -10000 (quietest) to 0 (loudest); reads back exactly what was written.
    virtual int Volume() const = 0;
    virtual void setVolume(int volume) = 0;
    // Throws PlayerError when no file is open.
    virtual void Play() = 0;
    // Pauses a playing or opening file; a paused one plays on. Nothing to pause does nothing.
    virtual void Pause() = 0;
    // Stops and rewinds at once; with no file open it does nothing.
    virtual void Stop() = 0;

    // What is to follow the playing file, in order, each without a gap. The engine may take
    // a file from here early, but at the end of the playing file it goes on with it only if
    // it is then still the one that follows in this list; otherwise the playing file ends as
    // if nothing were queued. Cleared by setFileName and Stop.
    virtual void setNextFiles(const QueuedFiles& files) = 0;
    virtual QueuedFiles NextFiles() const = 0;
    // The tags of the file that sounds, as far as the engine has read them.
    virtual FileTags Tags() const { return {}; }
    // Paused by the engine itself (the sound server holding the stream during a call), not
    // by a command: Pause then keeps it paused once the engine lets go.
    virtual bool HeldByEngine() const { return false; }
    // How many files have been opened or handed over so far: the number started() and
    // failed() name.
    virtual quint64 Opens() const = 0;
    virtual PlayerNotifier* notifier() = 0;
};

} // namespace melofon::playback
