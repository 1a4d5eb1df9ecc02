#pragma once

#include "playback/media_player.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>

#include <optional>
#include <set>

namespace melofon::test {

// A media player whose clock the test moves by hand. Like the real one it answers through
// the event loop: a file starts, or fails, when the loop next runs. Like the real engine it
// takes the file to follow as soon as a file starts sounding, long before that file ends,
// and decides at the end whether the file taken still follows.
class FakePlayer : public playback::MediaPlayer {
public:
    QString FileName() const override { return file; }
    void setFileName(const QString& path) override {
        file = path;
        next.clear();
        taken.reset();
        playingCue = 0;
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
            // A file paused while it opens may still fail; it starts when played.
            if (open != opens || hung.count(file) || (state != Opening && !(state == Paused && broken.count(file))))
                return;
            if (broken.count(file)) {
                state = Closed;
                emit notifier_.failed(open, QStringLiteral("No se puede abrir «%1».").arg(file));
            } else {
                state = Playing;
                duration = durations.value(file, 60.0);
                started << file;
                emit notifier_.started(open, file, 0);
                take();
            }
            emit notifier_.stateChanged();
        }, Qt::QueuedConnection);
    }
    void Pause() override {
        if (state == Playing || state == Opening)
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
        taken.reset();
    }
    void setNextFiles(const playback::QueuedFiles& files) override {
        next = files;
        if (state == Playing && !taken)
            take(); // a short file: read to its end at once
    }
    playback::QueuedFiles NextFiles() const override { return next; }
    quint64 Opens() const override { return opens; }
    playback::PlayerNotifier* notifier() override { return &notifier_; }

    // Plays on for `seconds`; at the file's end the file taken follows if it still does,
    // or the player stops.
    void advance(double seconds) {
        if (state != Playing)
            return;
        position += seconds;
        if (position < duration)
            return;
        position = 0;
        const std::optional<playback::QueuedFile> wanted = follows(playingCue);
        if (taken && wanted && *wanted == *taken && !broken.count(taken->path)) {
            file = taken->path;
            playingCue = taken->cue;
            taken.reset();
            ++opens;
            ++handovers;
            duration = durations.value(file, 60.0);
            started << file;
            emit notifier_.started(opens, file, playingCue);
            take();
        } else {
            taken.reset();
            state = Stopped;
            emit notifier_.stateChanged();
        }
    }
    // The give-up of a file that never answers, as the real player does after its wait.
    void giveUp() {
        if (state != Opening && !(state == Paused && duration == 0))
            return;
        state = Closed;
        emit notifier_.failed(opens, QStringLiteral("No se puede abrir «%1»: el archivo no responde.").arg(file));
        emit notifier_.stateChanged();
    }

    QString file;
    playback::QueuedFiles next;
    std::optional<playback::QueuedFile> taken;
    quint64 playingCue = 0;
    quint64 opens = 0;
    double position = 0, duration = 0;
    int state = Closed;
    int volume = 0;
    int handovers = 0;
    QList<int> volumeWrites;
    QStringList started;
    std::set<QString> broken; // refused when opened; when taken, told as nextFailed
    std::set<QString> hung;   // never answer
    QHash<QString, double> durations;

private:
    std::optional<playback::QueuedFile> follows(quint64 cue) const {
        for (std::size_t i = 0; i < next.size(); ++i)
            if (next[i].cue == cue)
                return i + 1 < next.size() ? std::optional(next[i + 1]) : std::nullopt;
        return next.empty() ? std::nullopt : std::optional(next.front());
    }
    void take() {
        taken = follows(playingCue);
        if (taken && hung.count(taken->path))
            taken.reset(); // looked at first, and it never answers: not taken

        if (taken && broken.count(taken->path)) {
            const playback::QueuedFile f = *taken;
            QMetaObject::invokeMethod(&notifier_, [this, f] {
                emit notifier_.nextFailed(f.cue, QStringLiteral("No se puede reproducir «%1».").arg(f.path));
            }, Qt::QueuedConnection);
        }
    }
    playback::PlayerNotifier notifier_;
};

} // namespace melofon::test
