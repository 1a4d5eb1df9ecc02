#pragma once

#include "playback/media_player.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>

#include <set>

namespace melofon::test {

// A media player whose clock the test moves by hand. Like the real one it answers through
// the event loop: a file starts, or fails, when the loop next runs.
class FakePlayer : public playback::MediaPlayer {
public:
    QString FileName() const override { return file; }
    void setFileName(const QString& path) override {
        file = path;
        next.clear();
        ++opens;
        position = 0;
        state = path.isEmpty() ? Closed : Opening;
        duration = 0;
    }
    double CurrentPosition() const override { return position; }
    double Duration() const override { return duration; }
    int PlayState() const override { return state; }
    int Volume() const override { return volume; }
    void setVolume(int v) override {
        volume = v;
        volumeWrites << v;
    }
    void Play() override {
        if (state == Closed)
            throw playback::PlayerError(QStringLiteral("No hay ningún archivo abierto."));
        if (state == Paused) {
            state = Playing;
            return;
        }
        if (state == Playing)
            return;
        state = Opening;
        const quint64 open = opens;
        QMetaObject::invokeMethod(&notifier_, [this, open] {
            if (open != opens || state != Opening)
                return;
            if (broken.count(file)) {
                state = Closed;
                emit notifier_.failed(open, QStringLiteral("No se puede abrir «%1».").arg(file));
            } else {
                state = Playing;
                duration = durations.value(file, 60.0);
                started << file;
                emit notifier_.started(open, false);
            }
            emit notifier_.stateChanged();
        }, Qt::QueuedConnection);
    }
    void Pause() override {
        if (state == Playing)
            state = Paused;
        else if (state == Paused)
            state = Playing;
    }
    void Stop() override {
        if (state == Closed)
            return;
        state = Stopped;
        position = 0;
        next.clear();
    }
    void setNextFileName(const QString& path) override { next = path; }
    QString NextFileName() const override { return next; }
    quint64 Opens() const override { return opens; }
    playback::PlayerNotifier* notifier() override { return &notifier_; }

    // Plays on for `seconds`; at the file's end the next file given follows, or it stops.
    void advance(double seconds) {
        if (state != Playing)
            return;
        position += seconds;
        if (position < duration)
            return;
        position = 0;
        if (!next.isEmpty() && !broken.count(next)) {
            file = std::exchange(next, QString());
            ++opens;
            duration = durations.value(file, 60.0);
            started << file;
            emit notifier_.started(opens, true);
        } else {
            state = Stopped;
            emit notifier_.stateChanged();
        }
    }

    QString file, next;
    quint64 opens = 0;
    double position = 0, duration = 0;
    int state = Closed;
    int volume = 0;
    QList<int> volumeWrites;
    QStringList started;
    std::set<QString> broken;
    QHash<QString, double> durations;

private:
    playback::PlayerNotifier notifier_;
};

} // namespace melofon::test
