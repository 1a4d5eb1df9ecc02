#pragma once

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

// The media player component (mpReproductor) as the program uses it: eight members.
// Every member either does its work or throws PlayerError.
class MediaPlayer {
public:
    enum PlayState { Stopped = 0, Paused = 1, Playing = 2, Closed = 6 };
    static constexpr int kMinVolume = -10000; // hundredths of a decibel
    static constexpr int kMaxVolume = 0;

    virtual ~MediaPlayer() = default;

    // Writing opens the file (an empty name closes it); a following Play starts it from the
    // beginning. Reading gives the name last written, or the empty text.
    virtual QString FileName() const = 0;
    virtual void setFileName(const QString& path) = 0;
    // Seconds from the start of the file.
    virtual double CurrentPosition() const = 0;
    // Seconds; known as soon as Play has returned.
    virtual double Duration() const = 0;
    // Stopped, Paused, Playing or Closed. A file that plays to its end becomes Stopped
    // without any call.
    virtual int PlayState() const = 0;
    // -10000 (quietest) to 0 (loudest); reads back exactly what was written.
    virtual int Volume() const = 0;
    virtual void setVolume(int volume) = 0;
    virtual void Play() = 0;
    // Pauses a playing file; a paused one plays on.
    virtual void Pause() = 0;
    virtual void Stop() = 0;
};

} // namespace melofon::playback
