#pragma once

#include <QObject>
#include <QString>

#include <stdexcept>

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

// Tells the window what the player did. Every signal is emitted from the event loop, never
// from inside a member call; the state changes made before the loop runs make one
// stateChanged, even when the state is back where it was: read the player when it arrives.
class PlayerNotifier : public QObject {
    Q_OBJECT
signals:
    // PlayState() changed: a file opened, started, ended or failed, or a member changed it.
    void stateChanged();
    // Duration() changed, e.g. an estimate was replaced by the figure the decoder found.
    void durationChanged();
    // A file began to sound. `open` is the Opens() count that names it; `handedOver` when it
    // followed the file before without a gap, having been given with setNextFileName.
    void started(quint64 open, bool handedOver);
    // The file of `open` could not be opened or played to its end; `message` says why.
    void failed(quint64 open, const QString& message);
    // Said once: there is no sound output, so files play without being heard.
    void noAudioOutput(const QString& message);
};

// The media player component (mpReproductor) as the program uses it. Opening, starting and
// stopping are requests: each member returns at once, and what the engine then does arrives
// through the notifier.
class MediaPlayer {
public:
    // Opening: a file is being opened or started and does not sound yet; like playing and
    // paused, a walk waits while it lasts.
    enum PlayState { Stopped = 0, Paused = 1, Playing = 2, Opening = 3, Closed = 6 };
    static constexpr int kMinVolume = -10000; // hundredths of a decibel
    static constexpr int kMaxVolume = 0;

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
    // Pauses a playing file; a paused one plays on. Nothing to pause does nothing.
    virtual void Pause() = 0;
    // Stops and rewinds at once; with no file open it does nothing.
    virtual void Stop() = 0;

    // The file to follow the playing one without a gap, or empty for none. Cleared by
    // setFileName and Stop, and once it has been taken.
    virtual void setNextFileName(const QString& path) = 0;
    virtual QString NextFileName() const = 0;
    // How many files have been opened or handed over so far: the number started() and
    // failed() name.
    virtual quint64 Opens() const = 0;
    virtual PlayerNotifier* notifier() = 0;
};

} // namespace melofon::playback
