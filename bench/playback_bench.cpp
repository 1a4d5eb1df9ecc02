// What playing costs: a 30-second MP3 played in real time by a playlist walk of the main
// window, against gst-launch-1.0 playing the same file on its own;
// and how long opening a file (prerolling it) takes for each format. Run with no arguments:
// the files are generated in a temporary directory.

#include "app/frm_principal.h"
#include "playback/gst_player.h"
#include "support/scripted_dialogs.h"
#include "support/store_rows.h"

#include <QApplication>
#include <QCheckBox>
#include <QToolButton>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using melofon::playback::GstPlayer;
using melofon::playback::MediaPlayer;

constexpr double kSeconds = 30;
const QString kSink = QStringLiteral("fakesink sync=true");

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

void gstLaunch(const QString& description, const QString& output) {
    QStringList arguments = QProcess::splitCommand(QStringLiteral("-q ") + description);
    arguments << QStringLiteral("location=") + output;
    QProcess p;
    p.start(QStringLiteral("gst-launch-1.0"), arguments);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        throw std::runtime_error("gst-launch-1.0 could not write " + output.toStdString());
}

QString makeFiles(const QString& dir) {
    const QString source = QStringLiteral(
        "audiotestsrc wave=pink-noise num-buffers=%1 samplesperbuffer=4410 ! "
        "audio/x-raw,rate=44100,channels=2 ! ");
    const QString mp3 = dir + QStringLiteral("/treinta.mp3");
    gstLaunch(source.arg(int(kSeconds * 10)) +
                  QStringLiteral("lamemp3enc target=bitrate bitrate=192 cbr=true ! filesink"),
              mp3);
    gstLaunch(source.arg(100) + QStringLiteral("wavenc ! filesink"), dir + QStringLiteral("/diez.wav"));
    gstLaunch(source.arg(1) + QStringLiteral("wavenc ! filesink"), dir + QStringLiteral("/decima.wav"));
    // Format 0, a second of four notes.
    QFile midi(dir + QStringLiteral("/notas.mid"));
    if (!midi.open(QIODevice::WriteOnly) ||
        midi.write(QByteArray::fromHex("4d546864000000060000000101e04d54726b00000032"
                                       "00ff510307a12000c000"
                                       "00903c648170803c40" "009040648170804040"
                                       "009043648170804340" "009048648170804840"
                                       "00ff2f00")) < 0)
        throw std::runtime_error("cannot write the MIDI file");
    return mp3;
}

// A playlist of the 30-second MP3 and a tenth of a second of WAV, walked by the real main
// window: the walk waits for the whole MP3 to end, then starts the WAV and returns. The
// window, its timer and the store are all live; only building them is left out.
class WalkingWindow {
public:
    WalkingWindow(GstPlayer& player, const QString& mp3, const QString& wav)
        : store_(tables_.path()), window_(store_, player, dialogs_.dialogs(), tables_.path(), [] {}),
          player_(player) {
        melofon::test::addPlaylist(store_, 1, QStringLiteral("Prueba"));
        melofon::test::addFile(store_, 1, 1, mp3);
        melofon::test::addFile(store_, 1, 2, wav);
        window_.start();
        window_.chkContinuado->setChecked(false);
        window_.lstListas->setListIndex(0);
    }

    void play() {
        window_.cmdPlay->click();
        while (player_.PlayState() != MediaPlayer::Stopped)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

private:
    QTemporaryDir tables_;
    melofon::store::PlaylistStore store_;
    melofon::test::ScriptedDialogs dialogs_;
    melofon::app::frmPrincipal window_;
    GstPlayer& player_;
};

void reportPlaying(const QString& mp3, const QString& wav) {
    GstPlayer player(kSink);
    WalkingWindow walk(player, mp3, wav);
    const Cost ours = inThisProcess([&] { walk.play(); });
    const std::string uri = QUrl::fromLocalFile(mp3).toEncoded().toStdString();
    const Cost bare = inChild({"gst-launch-1.0", "-q", "playbin", "uri=" + uri,
                               "audio-sink=fakesink sync=true"});
    const Cost startUp = inChild({"gst-launch-1.0", "-q", "fakesrc", "num-buffers=0", "!", "fakesink"});

    std::printf("Playing %.0f s of MP3 (192 kbit/s) in real time into \"%s\"\n", kSeconds,
                qPrintable(kSink));
    std::printf("  %-44s %7.3f s CPU, %.5f s per second of audio, %.2f s wall\n",
                "Melofon's playlist walk, whole process:", ours.cpu, ours.cpu / kSeconds, ours.wall);
    std::printf("  %-44s %7.3f s CPU, %.5f s per second of audio, %.2f s wall\n",
                "gst-launch-1.0 playbin (own process):", bare.cpu, bare.cpu / kSeconds, bare.wall);
    std::printf("  %-44s %7.3f s CPU\n", "gst-launch-1.0 start-up alone:", startUp.cpu);
    std::printf("  ratio walk / gst-launch: %.2f (%.2f without gst-launch's start-up; target at most 1.2)\n",
                ours.cpu / bare.cpu, ours.cpu / std::max(bare.cpu - startUp.cpu, 1e-6));
}

void reportOpening(const QString& dir) {
    std::printf("Opening a file (preroll), mean of 20, fakesink:\n");
    GstPlayer player(kSink);
    for (const char* name : {"diez.wav", "treinta.mp3", "notas.mid"}) {
        const QString file = dir + QLatin1Char('/') + QLatin1String(name);
        constexpr int kTimes = 20;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kTimes; ++i)
            player.setFileName(file);
        std::printf("  %-12s %6.2f ms\n", name, double(clock.nsecsElapsed()) / 1e6 / kTimes);
        player.setFileName(QString());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    try {
        const QString mp3 = makeFiles(dir.path());
        reportOpening(dir.path());
        reportPlaying(mp3, dir.path() + QStringLiteral("/decima.wav"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "playback_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
