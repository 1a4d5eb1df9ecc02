// What playing costs and how it sounds, through the real main window and its playlist walk:
//  - the silence between consecutive files of a walk (three 2-second WAV files, three
//    2-second MP3 files with the encoder's gapless header), captured sample by sample in
//    real time, beside gst-launch-1.0 playing the same files one after the other;
//  - the CPU a walk uses while a 30-second MP3 or WAV plays, beside gst-launch-1.0 alone;
//  - how soon an MP3 opened by hand sounds, and how soon its length is known, for an MP3
//    without a VBR header of one minute and of 100 MB, cached or not;
//  - the CPU of a walk over 100 files that are not there, with "Continuado" on;
//  - how soon the window answers while a file whose stream hangs is being opened;
//  - how soon it answers while a file on a share that does not answer is opened, and while
//    it is the next entry (where FUSE can be mounted);
//  - the memory of the program itself (peak and current RSS, PSS, the GStreamer plugins it
//    loaded), idle with its window shown and playing an MP3 and a MIDI file, each in a
//    process of its own, to the machine's sound output, on the display if there is one.
// Run with no arguments for all of it (about eight minutes), or name the parts: gaps, cpu,
// duration, missing, answer, share, memory. The files are made in a temporary directory.

#include "app/frm_principal.h"
#include "playback/gst_player.h"
#include "support/dead_share.h"
#include "support/scripted_dialogs.h"
#include "support/sound_files.h"
#include "support/stalled_sink.h"
#include "support/store_rows.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <gst/gst.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

using melofon::playback::GstPlayer;
using melofon::playback::MediaPlayer;

constexpr int kRate = 44100;

double cpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return cpuSeconds(u);
}

struct Cost {
    double cpu = 0;  // user + system seconds
    double wall = 0; // seconds
};

Cost inThisProcess(const std::function<void()>& run) {
    QElapsedTimer clock;
    clock.start();
    const double before = processCpuSeconds();
    run();
    return {processCpuSeconds() - before, double(clock.nsecsElapsed()) / 1e9};
}

Cost inChild(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& a : command)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + command[0]);
    int status = 0;
    rusage u{};
    if (wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(command[0] + " failed");
    return {cpuSeconds(u), double(clock.nsecsElapsed()) / 1e9};
}

void run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " + p.readAllStandardError().toStdString());
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// `seconds` of stereo pink noise as a WAV file, and as an MP3 that lame makes of it with
// `lameOptions`.
void noiseFiles(const QString& wav, const QString& mp3, int seconds, const QStringList& lameOptions) {
    run(QStringLiteral("sox"), QProcess::splitCommand(QStringLiteral("-n -r 44100 -c 2 -b 16")) << wav
                                   << QStringLiteral("synth") << QString::number(seconds) << QStringLiteral("pinknoise"));
    run(QStringLiteral("lame"), QStringList{QStringLiteral("--quiet")} << lameOptions << wav << mp3);
}

std::string uriOf(const QString& path) { return QUrl::fromLocalFile(path).toEncoded().toStdString(); }

// Runs the event loop until `done`, which only an event can make true.
void runUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void runFor(int milliseconds) {
    bool over = false;
    QTimer::singleShot(milliseconds, [&] { over = true; });
    runUntil([&] { return over; });
}

// A tone that never rests near zero for more than a sample, so that any run of silent
// samples is silence the player put there.
QByteArray tone(double seconds, double hertz) {
    const int frames = int(std::lround(seconds * kRate));
    QByteArray data(frames * 4, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i) {
        const auto v = qint16(std::lround(16000 * std::sin(2 * M_PI * hertz * i / kRate)));
        qToLittleEndian<qint16>(v, data.data() + 4 * i);
        qToLittleEndian<qint16>(v, data.data() + 4 * i + 2);
    }
    return data;
}

// What reaches the output: every sample, and where each stream began.
struct Capture {
    std::mutex mutex;
    std::vector<qint16> left;          // one channel is enough
    std::vector<std::size_t> starts;   // frame index at which each stream began
    std::vector<gint64> startWall;     // monotonic microseconds of each stream's first buffer
    std::string stream;

    GstPlayer::SinkFactory factory() {
        return [this]() -> GstElement* {
            GstElement* bin = gst_parse_bin_from_description(
                "audioconvert ! audioresample ! audio/x-raw,format=S16LE,channels=2,rate=44100 ! "
                "fakesink name=capture sync=true signal-handoffs=true",
                TRUE, nullptr);
            GstElement* sink = gst_bin_get_by_name(GST_BIN(bin), "capture");
            g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad* pad, gpointer self) {
                                 static_cast<Capture*>(self)->take(buffer, pad);
                             }),
                             this);
            gst_object_unref(sink);
            return bin;
        };
    }

    void take(GstBuffer* buffer, GstPad* pad) {
        const gint64 now = g_get_monotonic_time();
        std::string id;
        if (GstEvent* e = gst_pad_get_sticky_event(pad, GST_EVENT_STREAM_START, 0)) {
            const gchar* s = nullptr;
            gst_event_parse_stream_start(e, &s);
            id = s ? s : "";
            gst_event_unref(e);
        }
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return;
        std::lock_guard lock(mutex);
        if (id != stream || starts.empty()) {
            stream = id;
            starts.push_back(left.size());
            startWall.push_back(now);
        }
        const auto* s = reinterpret_cast<const qint16*>(map.data);
        for (std::size_t i = 0; i + 1 < map.size / 2; i += 2)
            left.push_back(s[i]);
        gst_buffer_unmap(buffer, &map);
    }
};

// What separates stream k-1 from stream k: the silent samples on both sides of the joint,
// in milliseconds, and how long the output was fed nothing at all, by the wall clock (which
// has a scheduling jitter of a fraction of a millisecond).
struct Joint {
    double silentMs = 0;
    double idleMs = 0;
};

Joint jointBefore(Capture& c, std::size_t k) {
    const auto quiet = [&](std::size_t i) { return std::abs(int(c.left[i])) < 200; };
    const std::size_t joint = c.starts[k];
    std::size_t before = 0, after = 0;
    while (before < joint && quiet(joint - 1 - before))
        ++before;
    while (joint + after < c.left.size() && quiet(joint + after))
        ++after;
    // A sine leaves at most one sample near zero by itself; two count as none.
    const std::size_t silent = before + after <= 2 ? 0 : before + after;
    // Samples are rendered in real time: the first of a stream is due right after the
    // last of the one before.
    const double due = double(c.startWall[k - 1]) + 1e6 * double(joint - c.starts[k - 1]) / kRate;
    return {1000.0 * double(silent) / kRate, std::max(0.0, (double(c.startWall[k]) - due) / 1000.0)};
}

// A main window on a store of its own, holding one playlist.
class Walk {
public:
    Walk(GstPlayer& player, const QStringList& files)
        : store_(tables_.path()), window_(store_, player, dialogs_.dialogs(), tables_.path(), [] {}),
          player_(player) {
        melofon::test::addPlaylist(store_, 1, QStringLiteral("Prueba"));
        for (int i = 0; i < files.size(); ++i)
            melofon::test::addFile(store_, 1, i + 1, files[i]);
        for (auto* source : {&store_.dtcListas(), &store_.dtcDocumentos(), &store_.dtcLisDoc()})
            source->Refresh();
        window_.start();
        window_.lstListas->setListIndex(0);
    }
    melofon::app::frmPrincipal& window() { return window_; }

    // Plays the playlist once, to the end of its last file.
    void playOnce() {
        window_.chkContinuado->setChecked(false);
        window_.cmdPlay->click();
        runUntil([&] { return !window_.walk().running() && player_.PlayState() == MediaPlayer::Stopped; });
    }

private:
    QTemporaryDir tables_;
    melofon::store::PlaylistStore store_;
    melofon::test::ScriptedDialogs dialogs_;
    melofon::app::frmPrincipal window_;
    GstPlayer& player_;
};

void reportGaps(const QString& dir) {
    QStringList wavs, mp3s;
    for (int i = 0; i < 3; ++i) {
        const QString wav = dir + QStringLiteral("/tono%1.wav").arg(i);
        QFile f(wav);
        if (!f.open(QIODevice::WriteOnly) || f.write(melofon::test::wav(tone(2.0, 440.0 * (i + 1) / 2))) < 0)
            throw std::runtime_error("cannot write " + wav.toStdString());
        f.close();
        wavs << wav;
        const QString mp3 = dir + QStringLiteral("/tono%1.mp3").arg(i);
        // lame writes its header with the encoder's delay and padding, which the parser
        // cuts off again.
        run(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("192"), wav, mp3});
        mp3s << mp3;
    }

    std::printf("Silence between consecutive files, captured in real time (ms):\n");
    for (const auto& [name, files] : {std::pair{"WAV", wavs}, std::pair{"MP3", mp3s}}) {
        Capture capture;
        GstPlayer player(capture.factory());
        Walk walk(player, files);
        walk.playOnce();
        std::lock_guard lock(capture.mutex);
        if (capture.starts.size() != 3) {
            std::printf("  %s: %zu streams reached the output, not 3\n", name, capture.starts.size());
            continue;
        }
        const Joint one = jointBefore(capture, 1), two = jointBefore(capture, 2);
        std::printf("  Melofon's walk, %s: silent samples %.2f, %.2f; output idle %.2f, %.2f (frames per file:", name,
                    one.silentMs, two.silentMs, one.idleMs, two.idleMs);
        for (std::size_t k = 0; k < 3; ++k)
            std::printf(" %zu", (k + 1 < 3 ? capture.starts[k + 1] : capture.left.size()) - capture.starts[k]);
        std::printf("; %d in each file)\n", 2 * kRate);
    }

    // gst-launch-1.0 plays one file a run: the silence between two files is what a run
    // costs beyond its file's length, start-up and tear-down.
    for (const auto& [name, files] : {std::pair{"WAV", wavs}, std::pair{"MP3", mp3s}}) {
        double overhead = 0;
        for (const QString& file : files)
            overhead += inChild({"gst-launch-1.0", "-q", "playbin", "uri=" + uriOf(file),
                                 "audio-sink=fakesink sync=true"})
                            .wall -
                        2.0;
        std::printf("  gst-launch-1.0 playbin, one run a file, %s: %6.2f on average\n", name,
                    1000.0 * overhead / double(files.size()));
    }
}

void reportPlayingCost(const QString& dir) {
    constexpr double kSeconds = 30;
    const QString mp3 = dir + QStringLiteral("/treinta.mp3");
    const QString wav = dir + QStringLiteral("/treinta.wav");
    const QString noise = QStringLiteral("-q audiotestsrc wave=pink-noise num-buffers=%1 samplesperbuffer=4410 ! "
                                         "audio/x-raw,rate=44100,channels=2 ! ")
                              .arg(int(kSeconds * 10));
    run(QStringLiteral("gst-launch-1.0"),
        QProcess::splitCommand(noise + QStringLiteral("lamemp3enc target=bitrate bitrate=192 cbr=true ! filesink"))
            << QStringLiteral("location=") + mp3);
    run(QStringLiteral("gst-launch-1.0"),
        QProcess::splitCommand(noise + QStringLiteral("wavenc ! filesink")) << QStringLiteral("location=") + wav);
    const QString sink = QStringLiteral("fakesink sync=true");
    const Cost startUp = inChild({"gst-launch-1.0", "-q", "fakesrc", "num-buffers=0", "!", "fakesink"});
    // A run's CPU varies by a tenth from run to run: three runs of each, taken in turn, and
    // their medians.
    constexpr int kRuns = 3;
    std::printf("Playing %.0f s in real time into \"%s\", %d runs each in turn, medians (gst-launch-1.0's "
                "start-up alone: %.3f s CPU):\n",
                kSeconds, qPrintable(sink), kRuns, startUp.cpu);
    for (const auto& [name, file] : {std::pair{"MP3 (192 kbit/s)", mp3}, std::pair{"WAV (16-bit stereo)", wav}}) {
        std::vector<double> ours, bare;
        for (int run = 0; run < kRuns; ++run) {
            GstPlayer player(sink);
            Walk walk(player, {file});
            ours.push_back(inThisProcess([&] { walk.playOnce(); }).cpu);
            bare.push_back(
                inChild({"gst-launch-1.0", "-q", "playbin", "uri=" + uriOf(file), "audio-sink=fakesink sync=true"}).cpu);
        }
        std::printf("  %-20s Melofon's playlist walk %.3f s CPU (%.3f to %.3f), gst-launch-1.0 playbin %.3f s "
                    "(%.3f to %.3f)\n",
                    name, median(ours), *std::min_element(ours.begin(), ours.end()),
                    *std::max_element(ours.begin(), ours.end()), median(bare),
                    *std::min_element(bare.begin(), bare.end()), *std::max_element(bare.begin(), bare.end()));
        std::printf("  %-20s ratio walk / gst-launch: %.2f (%.2f without gst-launch's start-up; target at most "
                    "1.05)\n",
                    "", median(ours) / median(bare), median(ours) / std::max(median(bare) - startUp.cpu, 1e-6));
    }
}

// When a file opened by hand first sounds, and when the player tells it started, with its
// length known; for an MP3 without a VBR header the length is had by counting its frames.
void reportDurationTime(const QString& dir) {
    const QString source = dir + QStringLiteral("/ruido.wav");
    const QString small = dir + QStringLiteral("/ruido.mp3");
    const QString large = dir + QStringLiteral("/grande.mp3");
    noiseFiles(source, small, 60, {QStringLiteral("-V"), QStringLiteral("0"), QStringLiteral("-t")});
    // A minute of VBR MP3 without a header, over and over: 100 MB.
    QFile in(small), out(large);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write " + large.toStdString());
    const QByteArray minute = in.readAll();
    int copies = 0;
    for (; out.size() < 100 << 20; ++copies)
        out.write(minute);
    out.close();
    std::printf("An MP3 opened by hand, VBR without a header (a minute of noise, %.0f kB; %d copies of it, %.0f "
                "MB); its true length is the frames' (lame adds its delay and padding):\n",
                double(minute.size()) / 1e3, copies, double(QFileInfo(large).size()) / 1e6);
    double oneCopy = 0;
    for (const auto& [name, file, copiesOf] : {std::tuple{"1 minute", small, 1}, std::tuple{"100 MB", large, copies}}) {
        // The first run of a process also loads GStreamer's plugins: not counted.
        for (const int run : {0, 1, 2}) {
            const bool cold = run == 2;
            if (run == 0 && copiesOf > 1)
                continue;
            if (cold) {
                // Out of the page cache, as after a reboot (clean pages are let go).
                QFile f(file);
                if (f.open(QIODevice::ReadOnly))
                    posix_fadvise(f.handle(), 0, 0, POSIX_FADV_DONTNEED);
            }
            std::atomic<gint64> firstSound{0};
            GstPlayer player([&]() -> GstElement* {
                GstElement* sink = gst_element_factory_make("fakesink", nullptr);
                g_object_set(sink, "sync", TRUE, "signal-handoffs", TRUE, nullptr);
                g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer at) {
                                     auto* first = static_cast<std::atomic<gint64>*>(at);
                                     gint64 none = 0;
                                     first->compare_exchange_strong(none, g_get_monotonic_time());
                                 }),
                                 &firstSound);
                return sink;
            });
            bool started = false;
            QObject::connect(player.notifier(), &melofon::playback::PlayerNotifier::started, [&] { started = true; });
            const gint64 asked = g_get_monotonic_time();
            player.setFileName(file);
            player.Play();
            runUntil([&] { return started || player.PlayState() == MediaPlayer::Closed; });
            const double toStart = double(g_get_monotonic_time() - asked) / 1e3;
            runUntil([&] { return firstSound.load() != 0 || player.PlayState() == MediaPlayer::Closed; });
            player.Stop();
            if (run == 0) {
                oneCopy = player.Duration();
                continue;
            }
            std::printf("  %-9s %-13s first sound after %6.1f ms; started, with its length, after %6.1f ms: "
                        "%.3f s (%d x %.3f s)\n",
                        name, cold ? "(not cached)" : "(cached)", double(firstSound.load() - asked) / 1e3, toStart,
                        player.Duration(), copiesOf, oneCopy);
        }
    }
}

void reportMissingFiles() {
    constexpr int kSeconds = 10;
    QStringList missing;
    for (int i = 0; i < 100; ++i)
        missing << QStringLiteral("C:\\Musica\\tema %1.mp3").arg(i);
    GstPlayer player(QStringLiteral("fakesink sync=true"));
    Walk walk(player, missing);
    walk.window().chkContinuado->setChecked(true);
    walk.window().cmdPlay->click();
    const Cost cost = inThisProcess([] { runFor(kSeconds * 1000); });
    walk.window().cmdStop->click();
    std::printf("A walk over 100 missing files, \"Continuado\" on, for %d s: %.2f %% of a core (%llu opens tried)\n",
                kSeconds, 100.0 * cost.cpu / cost.wall, static_cast<unsigned long long>(player.Opens()));
}

void reportAnswerTime(const QString& dir) {
    const QString wav = dir + QStringLiteral("/tono0.wav");
    const QString fifo = dir + QStringLiteral("/tuberia.wav");
    run(QStringLiteral("mkfifo"), {fifo});
    static auto* const stall = new melofon::test::Stall; // its hung thread may outlive the player
    double slowestCall = 0, latestEvent = 0;
    {
        GstPlayer player(stall->factory());
        Walk walk(player, {wav, fifo, wav});
        QElapsedTimer clock;
        const auto timed = [&](const std::function<void()>& call) {
            clock.start();
            call();
            slowestCall = std::max(slowestCall, double(clock.nsecsElapsed()) / 1e6);
        };
        // Every 10 ms the window is asked something; how late each answer comes.
        QTimer probe;
        QElapsedTimer since;
        since.start();
        QObject::connect(&probe, &QTimer::timeout, [&] {
            latestEvent = std::max(latestEvent, double(since.nsecsElapsed()) / 1e6 - 10);
            since.start();
        });
        probe.start(10);
        timed([&] { walk.window().cmdPlay->click(); });  // its first file hangs
        runFor(1000);
        timed([&] { walk.window().cmdStop->click(); });
        timed([&] { walk.window().cmdPlay->click(); });
        runFor(1000);
        timed([&] { walk.window().cmdStop->click(); });
        walk.window().txtArchivo->setText(fifo);
        timed([&] { walk.window().cmdPlayArchivo->click(); });
        runFor(500);
    }
    std::printf("The window while a hung stream and a FIFO are being opened: slowest command %.2f ms, "
                "latest answer %.2f ms after it was due (target 50 ms)\n",
                slowestCall, latestEvent);
}

// The slowest answer to a 10 ms timer while `during` runs the event loop, in ms past due.
double latestAnswer(const std::function<void()>& during) {
    double latest = 0;
    QTimer probe;
    QElapsedTimer since;
    since.start();
    QObject::connect(&probe, &QTimer::timeout, [&] {
        latest = std::max(latest, double(since.nsecsElapsed()) / 1e6 - 10);
        since.start();
    });
    probe.start(10);
    during();
    return latest;
}

void reportDeadShare(const QString& dir) {
    melofon::test::DeadShare share;
    if (share.absent()) {
        std::printf("A file on a share that does not answer: not measured (%s)\n", share.absent());
        return;
    }
    const QString wav = dir + QStringLiteral("/tono0.wav");
    GstPlayer player;
    Walk walk(player, {wav, share.file(), wav});
    walk.window().chkContinuado->setChecked(false);
    // As the next entry while the first plays, then as the one to open.
    QElapsedTimer clock;
    double passedAfter = 0;
    const double latest = latestAnswer([&] {
        walk.window().cmdPlay->click();
        runUntil([&] { return player.PlayState() == MediaPlayer::Playing; });
        runUntil([&] { return player.PlayState() != MediaPlayer::Playing; });
        clock.start();
        runUntil([&] { return player.Opens() >= 3 && player.PlayState() == MediaPlayer::Playing; });
        passedAfter = double(clock.nsecsElapsed()) / 1e9;
        runUntil([&] { return !walk.window().walk().running() && MediaPlayer::idle(player.PlayState()); });
    });
    walk.window().txtArchivo->setText(share.file());
    const double strip = latestAnswer([&] {
        walk.window().cmdPlayArchivo->click();
        runFor(1000);
        walk.window().cmdStop->click();
        runFor(200);
    });
    std::printf("A file on a share that does not answer, as the next entry and then opened by the walk: latest "
                "answer of the window %.2f ms after it was due; the walk went past it %.1f s after the file "
                "before ended (it waits %lld s)\n",
                latest, passedAfter, static_cast<long long>(player.giveUpAfter().count() / 1000));
    std::printf("  opened from the strip and stopped: latest answer %.2f ms (target 50 ms)\n", strip);
}

// What /proc says of a process: peak and current resident size and proportional size in
// kB, and the GStreamer plugins it has loaded.
struct Footprint {
    long peakRss = 0, rss = 0, pss = 0;
    QStringList plugins;
};

Footprint footprintOf(qint64 pid) {
    Footprint f;
    const auto field = [](const QByteArray& text, const char* name) {
        for (const QByteArray& line : text.split('\n'))
            if (line.startsWith(name))
                return line.mid(int(std::strlen(name))).trimmed().split(' ').value(0).toLong();
        return 0L;
    };
    const auto read = [&](const char* what) {
        QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(what)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray status = read("status");
    f.peakRss = field(status, "VmHWM:");
    f.rss = field(status, "VmRSS:");
    f.pss = field(read("smaps_rollup"), "Pss:");
    for (const QByteArray& line : read("maps").split('\n')) {
        const qsizetype at = line.indexOf("/gstreamer-1.0/");
        if (at >= 0) {
            const QString plugin = QString::fromUtf8(line.mid(at + 15)).remove(QStringLiteral("libgst")).remove(QStringLiteral(".so"));
            if (!f.plugins.contains(plugin))
                f.plugins << plugin;
        }
    }
    return f;
}

// A standard MIDI file of `seconds` of notes.
QByteArray midiOf(int seconds) {
    QByteArray track = QByteArray::fromHex("00ff510307a12000c000");
    for (int i = 0; i < seconds * 4; ++i) {
        const char note = char(60 + (i * 5) % 24);
        track += QByteArray::fromHex("0090") + note + char(100);
        track += QByteArray::fromHex("8170") + char(0x80) + note + char(64);
    }
    track += QByteArray::fromHex("00ff2f00");
    QByteArray length(4, '\0');
    qToBigEndian<quint32>(quint32(track.size()), length.data());
    return QByteArray::fromHex("4d546864000000060000000101e0") + "MTrk" + length + track;
}

// The program itself, as a user starts it: idle with its window shown, and playing a file
// given on its command line, each in a process of its own, on tables of its own, to the
// machine's sound output; the window on the display when there is one.
void reportMemory(const QString& dir) {
    const QString mp3 = dir + QStringLiteral("/memoria.mp3");
    const QString midi = dir + QStringLiteral("/memoria.mid");
    const QString source = dir + QStringLiteral("/memoria.wav");
    noiseFiles(source, mp3, 10, {QStringLiteral("-b"), QStringLiteral("192")});
    QFile f(midi);
    if (!f.open(QIODevice::WriteOnly) || f.write(midiOf(10)) < 0)
        throw std::runtime_error("cannot write " + midi.toStdString());
    f.close();
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    std::printf("The program's memory, %s, sound to %s; in MB (the closest GUI peer: 38.3 playing MP3, 64.3 MIDI, "
                "36.7 idle):\n",
                display ? "its window on the display (xcb)" : "no display (offscreen)",
                qEnvironmentVariableIsEmpty("PULSE_SERVER") && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
                    ? "the default output"
                    : "the sound server");
    // The program as a user starts it, its window shown and the file some seconds in; with
    // `log`, GStreamer's note of each element made goes there.
    const auto runProgram = [&](const QString& file, const QString& log) {
        QTemporaryDir home;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display ? QStringLiteral("xcb") : QStringLiteral("offscreen"));
        if (!log.isEmpty()) {
            env.insert(QStringLiteral("GST_DEBUG"), QStringLiteral("GST_ELEMENT_FACTORY:4"));
            env.insert(QStringLiteral("GST_DEBUG_FILE"), log);
        }
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(MELOFON_PROGRAM), file.isEmpty() ? QStringList() : QStringList{file});
        if (!child.waitForStarted())
            throw std::runtime_error("the program did not start");
        runFor(6000);
        const Footprint fp = footprintOf(child.processId());
        child.kill();
        child.waitForFinished();
        return fp;
    };
    for (const auto& [name, file] : {std::pair{"idle", QString()}, std::pair{"MP3", mp3}, std::pair{"MIDI", midi}}) {
        const Footprint fp = runProgram(file, {});
        std::printf("  %-5s peak RSS %5.1f, RSS %5.1f, PSS %5.1f; GStreamer plugins loaded: %s\n", name,
                    double(fp.peakRss) / 1000, double(fp.rss) / 1000, double(fp.pss) / 1000,
                    fp.plugins.isEmpty() ? "none" : qPrintable(fp.plugins.join(QLatin1Char(' '))));
        if (file.isEmpty())
            continue;
        // Again, apart, for the decoders: the log takes memory of its own.
        const QString log = dir + QStringLiteral("/elementos.log");
        QFile::remove(log);
        runProgram(file, log);
        QFile made(log);
        QStringList decoders;
        if (made.open(QIODevice::ReadOnly)) {
            static const QByteArray kMarker = "creating element \"";
            for (const QByteArray& line : made.readAll().split('\n')) {
                const qsizetype at = line.indexOf(kMarker);
                if (at < 0)
                    continue;
                const QByteArray element = line.mid(at + kMarker.size()).split('"').value(0);
                // One this process does not know is another set's, which would be news.
                GstElementFactory* f = gst_element_factory_find(element.constData());
                const char* klass = f ? gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS) : "";
                const bool decoder = !f || (std::strstr(klass, "Decoder") && !std::strstr(klass, "Bin"));
                if (f)
                    gst_object_unref(f);
                if (decoder && !decoders.contains(QString::fromUtf8(element)))
                    decoders << QString::fromUtf8(element);
            }
        }
        std::printf("  %-5s decoders the pipeline made: %s\n", "",
                    decoders.isEmpty() ? "none" : qPrintable(decoders.join(QLatin1Char(' '))));
    }
}

// A first sound, in a process of its own with GStreamer not yet started there: Melofon's
// player from the file given to it (its engine opened then, as in the program), or a bare
// playbin from gst_init, each into a fakesink that keeps time. Prints milliseconds.
int firstSound(bool bare, const char* file, int argc, char** argv) {
    static std::atomic<gint64> heard{0};
    const auto sink = [] {
        GstElement* s = gst_element_factory_make("fakesink", nullptr);
        g_object_set(s, "sync", TRUE, "signal-handoffs", TRUE, nullptr);
        g_signal_connect(s, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer) {
                             gint64 none = 0;
                             heard.compare_exchange_strong(none, g_get_monotonic_time());
                         }),
                         nullptr);
        return s;
    };
    const QString path = QString::fromLocal8Bit(file);
    gint64 asked = 0;
    if (bare) {
        asked = g_get_monotonic_time();
        gst_init(nullptr, nullptr);
        GstElement* playbin = gst_element_factory_make("playbin", nullptr);
        g_object_set(playbin, "uri", uriOf(path).c_str(), "audio-sink", sink(), "video-sink",
                     gst_element_factory_make("fakesink", nullptr), nullptr);
        gst_element_set_state(playbin, GST_STATE_PLAYING);
        for (int i = 0; i < 10000 && heard == 0; ++i)
            g_usleep(1000);
        gst_element_set_state(playbin, GST_STATE_NULL);
        gst_object_unref(playbin);
    } else {
        GstPlayer::keepToOwnPlugins();
        QApplication app(argc, argv);
        GstPlayer player(sink);
        asked = g_get_monotonic_time();
        // The engine as the program has it: opened from beside the program with the first
        // file, not linked in.
        const QByteArray engine = QFile::encodeName(QFileInfo(QStringLiteral(MELOFON_PROGRAM)).path()) + "/melofon-gst.so";
        void* library = dlopen(engine.constData(), RTLD_NOW | RTLD_LOCAL);
        using Entry = const GstPlayer::EngineEntry* (*)();
        const auto entry = library ? reinterpret_cast<Entry>(dlsym(library, "melofon_engine")) : nullptr;
        if (!entry)
            return 1;
        GstPlayer::linkEngine(entry());
        player.setFileName(path);
        player.Play();
        QElapsedTimer limit;
        limit.start();
        while (heard == 0 && limit.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        player.Stop();
    }
    if (heard == 0)
        return 1;
    std::printf("%.2f\n", double(heard - asked) / 1e3);
    return 0;
}

// How soon a file first sounds: Melofon's first file, GStreamer started with it, and a bare
// playbin in a process of its own from gst_init; the machine's registry for the bare one.
void reportFirstSound(const QString& dir) {
    const QString source = dir + QStringLiteral("/primero.wav");
    const QString mp3 = dir + QStringLiteral("/primero.mp3");
    noiseFiles(source, mp3, 3, {QStringLiteral("-b"), QStringLiteral("192")});
    constexpr int kRuns = 7;
    std::printf("First sound, in a process of its own, into \"fakesink sync=true\"; medians of %d runs taken in "
                "turn, in ms:\n",
                kRuns);
    for (const auto& [name, file] : {std::pair{"MP3", mp3}, std::pair{"WAV", source}}) {
        std::vector<double> ours, bare;
        for (int i = 0; i < kRuns; ++i)
            for (const bool alone : {false, true}) {
                QProcess child;
                child.start(QCoreApplication::applicationFilePath(),
                            {alone ? QStringLiteral("--primer-sonido-playbin") : QStringLiteral("--primer-sonido"), file});
                if (!child.waitForFinished(20000) || child.exitCode() != 0)
                    throw std::runtime_error("no first sound from " + file.toStdString());
                (alone ? bare : ours).push_back(child.readAllStandardOutput().trimmed().toDouble());
            }
        std::printf("  %-4s Melofon's first file %6.1f (%.1f to %.1f), bare playbin from gst_init %6.1f (%.1f to %.1f); "
                    "difference %+.1f (target at most +5)\n",
                    name, median(ours), *std::min_element(ours.begin(), ours.end()),
                    *std::max_element(ours.begin(), ours.end()), median(bare),
                    *std::min_element(bare.begin(), bare.end()), *std::max_element(bare.begin(), bare.end()),
                    median(ours) - median(bare));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && (std::strcmp(argv[1], "--primer-sonido") == 0 || std::strcmp(argv[1], "--primer-sonido-playbin") == 0)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return firstSound(std::strcmp(argv[1], "--primer-sonido-playbin") == 0, argv[2], argc, argv);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the children go on the display
    // GStreamer as the program has it: its own plugins only.
    GstPlayer::keepToOwnPlugins();
    QApplication app(argc, argv);
    GstPlayer::startEngine();
    QTemporaryDir dir;
    const QStringList parts = app.arguments().mid(1);
    const auto wanted = [&](const char* part) { return parts.isEmpty() || parts.contains(QLatin1String(part)); };
    try {
        if (wanted("gaps") || wanted("answer") || wanted("share"))
            reportGaps(dir.path()); // makes the files the others use
        if (wanted("cpu"))
            reportPlayingCost(dir.path());
        if (wanted("start"))
            reportFirstSound(dir.path());
        if (wanted("duration"))
            reportDurationTime(dir.path());
        if (wanted("missing"))
            reportMissingFiles();
        if (wanted("answer"))
            reportAnswerTime(dir.path());
        if (wanted("share"))
            reportDeadShare(dir.path());
        if (wanted("memory"))
            reportMemory(dir.path());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "playback_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
