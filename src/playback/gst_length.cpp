// A file's true length, and the news of its start held back until it is known: the
// duration labels are set once, and right.

#include "playback/gst_session.h"

#include <chrono>
#include <thread>

namespace melofon::playback {

namespace {

// A length that takes long to count (a large file on a slow share) holds back the news of
// the start no longer than this; the file then starts with GStreamer's length.
constexpr auto kLengthWait = std::chrono::seconds(2);

} // namespace

// Counting an MP3's frames may read the whole file: it runs beside the preroll, so that
// the first sound does not wait for it.
void GstPlayer::Session::startMeasuring(const QString& file) {
    measuring = true;
    std::thread([weak = self, number = open, file] {
        const double seconds = playback::measure(file).seconds;
        if (auto s = weak.lock()) {
            Job job(Job::Measured);
            job.open = number;
            job.seconds = seconds;
            s->push(std::move(job));
        }
    }).detach();
}

void GstPlayer::Session::measured(quint64 number, double seconds) {
    if (number != open)
        return;
    const bool late = !measuring; // the start was told without it
    measuring = false;
    trueSeconds = seconds;
    if (std::exchange(startHeld, false)) {
        started();
    } else if (late && seconds > 0) {
        Report r(Report::DurationChanged);
        r.duration = seconds;
        report(r);
    }
}

// The file opened began to sound: said once its length is known.
void GstPlayer::Session::started() {
    if (measuring) {
        startHeld = true;
        heldSince = std::chrono::steady_clock::now();
        return;
    }
    Report r(Report::Started);
    r.duration = duration();
    report(r);
}

void GstPlayer::Session::stopWaitingForLength() {
    if (startHeld && std::chrono::steady_clock::now() - heldSince >= kLengthWait)
        tellHeldStart();
}

// The file is over, or another follows it, before its length was counted: its start is
// told now, or the player would wait for it while nothing plays.
void GstPlayer::Session::tellHeldStart() {
    if (!std::exchange(startHeld, false))
        return;
    measuring = false;
    started();
}

} // namespace melofon::playback
