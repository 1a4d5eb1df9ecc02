#pragma once

#include "playback/media_player.h"

#include <QHash>
#include <QStringList>

#include <set>

namespace melofon::test {

// A media player whose clock the test moves by hand.
class FakePlayer : public playback::MediaPlayer {
public:
    QString FileName() const override { return file; }
    void setFileName(const QString& path) override {
        file = path;
        state = Stopped;
        position = 0;
        if (broken.count(path))
            throw playback::PlayerError(QStringLiteral("No se puede abrir «%1».").arg(path));
        duration = durations.value(path, 60.0);
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
        if (file.isEmpty() || broken.count(file))
            throw playback::PlayerError(QStringLiteral("No hay ningún archivo abierto."));
        state = Playing;
        started << file;
    }
    void Pause() override { state = state == Paused ? Playing : Paused; }
    void Stop() override {
        state = Stopped;
        position = 0;
    }

    // Plays on for `seconds`; the file ends when its duration is reached.
    void advance(double seconds) {
        if (state != Playing)
            return;
        position += seconds;
        if (position >= duration) {
            position = 0;
            state = Stopped;
        }
    }

    QString file;
    double position = 0, duration = 0;
    int state = Closed;
    int volume = 0;
    QList<int> volumeWrites;
    QStringList started;
    std::set<QString> broken;
    QHash<QString, double> durations;
};

} // namespace melofon::test
