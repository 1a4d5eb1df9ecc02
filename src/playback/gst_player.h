#pragma once

#include "playback/media_player.h"

#include <QObject>
#include <QString>

#include <memory>

// GStreamer stays out of every header: only gst_player.cpp sees it.
struct _GstElement;
struct _GstBus;
struct _GstMessage;

namespace melofon::playback {

// Tells the window about changes in the player. Both signals are emitted from the event
// loop, never from inside a member call, and the changes made before the loop runs make one
// signal, even when the state is back where it was (a file that started and ended): read
// the player when it arrives.
class PlayerNotifier : public QObject {
    Q_OBJECT
signals:
    // PlayState() changed: a file ended or failed, or a member changed it.
    void stateChanged();
    // Duration() changed, e.g. an estimate was replaced by the figure the decoder found.
    void durationChanged();
};

// The media player on GStreamer's playbin, audio only.
//
// A file that cannot be opened leaves the player Closed with FileName() still giving the
// name written, so that Play then fails with "no file open" rather than playing the file
// before. A file that ends or fails while playing becomes Stopped; the failure is kept in
// lastError(). Stopped, Paused and Playing always have a file open; Pause on a stopped file
// does nothing.
//
// Created and used on the thread that runs the Qt event loop: GStreamer's own threads only
// post wake-ups to it, so what they report (a file's end, a failure, a better duration)
// reaches the player when that loop next runs.
class GstPlayer : public MediaPlayer {
public:
    // `audioSink`: a gst-launch style description of the output, e.g. "autoaudiosink" or
    // "fakesink sync=false". `soundfont`: the General MIDI soundfont MIDI files are played
    // with; empty lets the synthesizer look for one in the usual places.
    explicit GstPlayer(const QString& audioSink = QStringLiteral("autoaudiosink"),
                       const QString& soundfont = QString());
    ~GstPlayer() override;
    GstPlayer(const GstPlayer&) = delete;
    GstPlayer& operator=(const GstPlayer&) = delete;

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

    PlayerNotifier* notifier() const { return notifier_.get(); }
    // Why the last file stopped before its end; empty when it did not.
    QString lastError() const { return lastError_; }
    // Duration() is still reckoned from the file's size, the decoder having given none yet.
    bool durationEstimated() const { return durationEstimated_; }
    // The linear gain the pipeline applies, for tests of the volume scale.
    double appliedGain() const;

private:
    struct Wake;
    struct Failure;

    void scheduleWake();
    void wake();
    void handleMessage(_GstMessage* message, Failure* waiting);
    bool waitForState(int target, Failure& failure);
    void reachedEnd();
    void refreshDuration();
    void setState(int state);
    void resetPipeline(int target);
    void requireFile() const;
    QString describe(const Failure& failure, const QString& what) const;

    _GstElement* pipeline_ = nullptr;
    _GstBus* bus_ = nullptr;
    Wake* wake_ = nullptr; // owned by the bus's sync handler
    std::unique_ptr<PlayerNotifier> notifier_;
    bool notifyState_ = false;
    bool notifyDuration_ = false;
    bool pendingEos_ = false;
    QString missingDecoder_; // caps of a stream no decoder could take, for the message

    QString fileName_;
    int state_ = Closed;
    double duration_ = 0;
    bool durationEstimated_ = false;
    int volume_ = kMaxVolume;
    QString lastError_;
};

} // namespace melofon::playback
