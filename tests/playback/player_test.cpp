#include "playback/gst_player.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>

using melofon::playback::GstPlayer;
using melofon::playback::MediaPlayer;
using melofon::playback::PlayerError;
using melofon::test::TempDir;

namespace {

const QString kFastSink = QStringLiteral("fakesink sync=false");
const QString kRealTimeSink = QStringLiteral("fakesink sync=true");

// 44.1 kHz stereo 16-bit samples that differ all along, so that a lost, doubled or altered
// stretch shows.
QByteArray pcm(double seconds) {
    const int frames = int(std::lround(seconds * 44100));
    QByteArray data(frames * 4, Qt::Uninitialized);
    quint32 x = 12345;
    for (int i = 0; i < frames * 2; ++i) {
        x = x * 1103515245u + 12345u;
        qToLittleEndian<qint16>(qint16((x >> 16) & 0x3FFF) - 0x2000, data.data() + 2 * i);
    }
    return data;
}

QByteArray wav(const QByteArray& samples) {
    QByteArray h(44, '\0');
    auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, h.data() + at); };
    auto put16 = [&](int at, quint16 v) { qToLittleEndian<quint16>(v, h.data() + at); };
    h.replace(0, 4, "RIFF");
    put32(4, quint32(36 + samples.size()));
    h.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put16(20, 1); // PCM
    put16(22, 2);
    put32(24, 44100);
    put32(28, 44100 * 4);
    put16(32, 4);
    put16(34, 16);
    h.replace(36, 4, "data");
    put32(40, quint32(samples.size()));
    return h + samples;
}

// The sample data of a WAV file, wherever its header puts it.
QByteArray wavData(const QByteArray& file) {
    for (qsizetype at = 12; at + 8 <= file.size();) {
        const quint32 size = qFromLittleEndian<quint32>(file.constData() + at + 4);
        if (file.mid(at, 4) == "data")
            return file.mid(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

// Format 0, 480 ticks a quarter at 120 a minute: four eighth notes, one second.
QByteArray midi() {
    QByteArray track;
    track += QByteArray::fromHex("00ff510307a120"); // tempo 500000 µs a quarter
    track += QByteArray::fromHex("00c000");         // piano
    for (const char note : {60, 64, 67, 72}) {
        track += QByteArray::fromHex("0090") + note + char(100);
        track += QByteArray::fromHex("8170") + char(0x80) + note + char(64); // 240 ticks later
    }
    track += QByteArray::fromHex("00ff2f00");
    QByteArray length(4, '\0');
    qToBigEndian<quint32>(quint32(track.size()), length.data());
    return QByteArray::fromHex("4d546864000000060000000101e0") + "MTrk" + length + track;
}

// Sound files every test may use, made once per process in a scratch directory.
class Files {
public:
    static Files& get() {
        static Files files;
        return files;
    }
    QString wav1s() { return make(QStringLiteral("uno.wav"), [&](const QString& name) {
        dir_.write(name, wav(pcm(1.0)));
    }); }
    QString wav2s() { return make(QStringLiteral("dos.wav"), [&](const QString& name) {
        dir_.write(name, wav(pcm(2.0)));
    }); }
    QString wavShort() { return make(QStringLiteral("corto.wav"), [&](const QString& name) {
        dir_.write(name, wav(pcm(0.05)));
    }); }
    QString midi1s() { return make(QStringLiteral("notas.mid"), [&](const QString& name) {
        dir_.write(name, midi());
    }); }
    // Two seconds of a tone at 128 kbit/s.
    QString cbrMp3() { return make(QStringLiteral("cbr.mp3"), [&](const QString& name) {
        launch(name, tone(20) + QStringLiteral("lamemp3enc target=bitrate bitrate=128 cbr=true"));
    }); }
    // Four seconds, variable bit rate, written straight out: no Xing header.
    QString vbrMp3() { return make(QStringLiteral("vbr.mp3"), [&](const QString& name) {
        launch(name, tone(40) + QStringLiteral("lamemp3enc target=quality quality=2"));
    }); }
    // A picture, under a sound file's name.
    QString image() { return make(QStringLiteral("imagen.mp3"), [&](const QString& name) {
        launch(name, QStringLiteral("videotestsrc num-buffers=1 ! pngenc"));
    }); }

private:
    QString make(const QString& name, const std::function<void(const QString&)>& write) {
        const QString path = dir_.file(name);
        if (!QFile::exists(path))
            write(name);
        return path;
    }
    static QString tone(int tenths) {
        return QStringLiteral("audiotestsrc wave=sine num-buffers=%1 samplesperbuffer=4410 ! "
                              "audio/x-raw,rate=44100,channels=2 ! ")
            .arg(tenths);
    }
    void launch(const QString& name, const QString& pipeline) {
        melofon::test::runProgram(QStringLiteral("gst-launch-1.0"),
                                  QStringList{QStringLiteral("-q")} +
                                      QProcess::splitCommand(pipeline) +
                                      QStringList{QStringLiteral("!"), QStringLiteral("filesink"),
                                                  QStringLiteral("location=") + dir_.file(name)});
    }
    TempDir dir_;
};

// Runs the event loop, blocked between events, until `done` or the time limit; only the
// player's own wake-up can end the wait early, nothing else in a test posts events.
bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    bool late = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] { late = true; });
    limit.start(milliseconds);
    while (!done() && !late)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// Lets the event loop run for a while, as a window would between user actions.
void runEvents(int milliseconds) {
    waitUntil([] { return false; }, milliseconds);
}

QString refusal(GstPlayer& player, const QString& path) {
    try {
        player.setFileName(path);
    } catch (const PlayerError& e) {
        return e.message();
    }
    return {};
}

struct Format {
    const char* name;
    QString (Files::*file)();
    double seconds;
};
void PrintTo(const Format& f, std::ostream* out) { *out << f.name; }

class EachFormat : public ::testing::TestWithParam<Format> {};

} // namespace

TEST_P(EachFormat, DurationIsKnownAtPlayAndTheEndStopsByItself) {
    const Format f = GetParam();
    const QString path = (Files::get().*f.file)();
    GstPlayer player(kFastSink);
    int signalled = 0, stateAtSignal = -1;
    QObject::connect(player.notifier(), &melofon::playback::PlayerNotifier::stateChanged, [&] {
        ++signalled;
        stateAtSignal = player.PlayState();
    });
    player.setFileName(path);
    EXPECT_EQ(player.PlayState(), MediaPlayer::Stopped);
    EXPECT_EQ(player.FileName(), path);

    for (int round = 0; round < 2; ++round) { // the second from the start again
        player.Play();
        EXPECT_EQ(player.PlayState(), MediaPlayer::Playing);
        EXPECT_NEAR(player.Duration(), f.seconds, 0.1);
        signalled = 0;
        ASSERT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }))
            << "round " << round << ": no wake-up at the end";
        EXPECT_EQ(player.CurrentPosition(), 0);
        EXPECT_NEAR(player.Duration(), f.seconds, 0.1);
        EXPECT_TRUE(player.lastError().isEmpty()) << player.lastError().toStdString();
        runEvents(0);
        EXPECT_GE(signalled, 1);
        EXPECT_EQ(stateAtSignal, MediaPlayer::Stopped);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Player, EachFormat,
    ::testing::Values(Format{"Wav", &Files::wav1s, 1.0}, Format{"CbrMp3", &Files::cbrMp3, 2.0},
                      Format{"VbrMp3", &Files::vbrMp3, 4.0}, Format{"Midi", &Files::midi1s, 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlayerTest, VbrMp3WithoutHeaderGetsAnEstimateThenTheDecodersFigure) {
    const QString path = Files::get().vbrMp3();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_FALSE(bytes.contains("Xing") || bytes.contains("Info") || bytes.contains("VBRI"))
        << "the encoder wrote a VBR header; the case is not the one meant";

    GstPlayer player(kFastSink);
    int durationSignals = 0;
    QObject::connect(player.notifier(), &melofon::playback::PlayerNotifier::durationChanged,
                     [&] { ++durationSignals; });
    player.setFileName(path);
    EXPECT_TRUE(player.durationEstimated());
    EXPECT_NEAR(player.Duration(), 4.0, 0.2);
    player.Play();
    EXPECT_NEAR(player.Duration(), 4.0, 0.2);
    ASSERT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }));
    EXPECT_FALSE(player.durationEstimated());
    EXPECT_NEAR(player.Duration(), 4.0, 0.1);
    EXPECT_GE(durationSignals, 1);
}

TEST(PlayerTest, PauseHoldsThePositionStopRewinds) {
    GstPlayer player(kRealTimeSink);
    player.setFileName(Files::get().wav2s());
    EXPECT_EQ(player.CurrentPosition(), 0);
    player.Play();
    runEvents(200);
    EXPECT_GT(player.CurrentPosition(), 0.1);

    player.Pause();
    EXPECT_EQ(player.PlayState(), MediaPlayer::Paused);
    const double held = player.CurrentPosition();
    runEvents(150);
    EXPECT_NEAR(player.CurrentPosition(), held, 0.01);
    EXPECT_EQ(player.PlayState(), MediaPlayer::Paused);

    player.Pause(); // resumes
    EXPECT_EQ(player.PlayState(), MediaPlayer::Playing);
    runEvents(200);
    EXPECT_GT(player.CurrentPosition(), held + 0.1);

    player.Stop();
    EXPECT_EQ(player.PlayState(), MediaPlayer::Stopped);
    EXPECT_EQ(player.CurrentPosition(), 0);
    player.Pause(); // nothing to pause
    EXPECT_EQ(player.PlayState(), MediaPlayer::Stopped);
    player.Play();
    EXPECT_LT(player.CurrentPosition(), 0.1);
    EXPECT_NEAR(player.Duration(), 2.0, 0.01);
}

TEST(PlayerTest, VolumeReadsBackAndSetsTheLinearGain) {
    GstPlayer player(kFastSink);
    EXPECT_EQ(player.Volume(), 0);
    EXPECT_DOUBLE_EQ(player.appliedGain(), 1.0);
    const std::map<int, int> readBack = {
        {-2500, -2500}, {-1, -1}, {-10000, -10000}, {-10001, -10000}, {-99999, -10000}, {5, 0}};
    for (const auto& [written, read] : readBack) {
        player.setVolume(written);
        EXPECT_EQ(player.Volume(), read) << written;
        EXPECT_NEAR(player.appliedGain(), std::pow(10.0, read / 2000.0), 1e-9) << written;
    }
    // The level holds across files.
    player.setVolume(-2500);
    player.setFileName(Files::get().wav1s());
    player.Play();
    EXPECT_EQ(player.Volume(), -2500);
    EXPECT_NEAR(player.appliedGain(), std::pow(10.0, -1.25), 1e-9);
}

TEST(PlayerTest, FilesThatCannotBePlayedAreRefusedAtOnceAndLeaveItClosed) {
    TempDir dir;
    dir.write(QStringLiteral("vacío.wav"), {});
    dir.write(QStringLiteral("texto.mp3"), "Esto no es música, es una lista de la compra.\n");
    QDir(dir.path()).mkdir(QStringLiteral("carpeta.mp3"));
    const std::map<QString, QString> reasons = {
        {dir.file(QStringLiteral("no-existe.wav")), QStringLiteral("no existe")},
        {dir.file(QStringLiteral("vacío.wav")), QStringLiteral("vacío")},
        {dir.file(QStringLiteral("texto.mp3")), QStringLiteral("no es un archivo de sonido")},
        {dir.file(QStringLiteral("carpeta.mp3")), QStringLiteral("carpeta")},
        {Files::get().image(), QStringLiteral("no es un archivo de sonido")},
    };
    GstPlayer player(kRealTimeSink);
    for (const auto& [path, reason] : reasons) {
        player.setFileName(Files::get().wav2s());
        player.Play(); // a refused file must not leave this one playing
        QElapsedTimer clock;
        clock.start();
        const QString message = refusal(player, path);
        EXPECT_LT(clock.elapsed(), 1000) << path.toStdString();
        EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path)) && message.contains(reason))
            << message.toStdString();
        EXPECT_EQ(player.FileName(), path);
        EXPECT_EQ(player.PlayState(), MediaPlayer::Closed);
        EXPECT_EQ(player.Duration(), 0);
        EXPECT_EQ(player.CurrentPosition(), 0);
        EXPECT_THROW(player.Play(), PlayerError);
    }
}

TEST(PlayerTest, WithNoFileOpenEveryCommandIsRefused) {
    GstPlayer player(kFastSink);
    for (int round = 0; round < 2; ++round) { // new, then after closing an open file
        EXPECT_EQ(player.PlayState(), MediaPlayer::Closed);
        EXPECT_EQ(player.FileName(), QString());
        EXPECT_EQ(player.Duration(), 0);
        for (void (GstPlayer::*command)() : {&GstPlayer::Play, &GstPlayer::Pause, &GstPlayer::Stop}) {
            try {
                (player.*command)();
                ADD_FAILURE() << "a command ran with no file open";
            } catch (const PlayerError& e) {
                EXPECT_EQ(e.message(), QStringLiteral("No hay ningún archivo abierto."));
            }
        }
        player.setFileName(Files::get().wav1s());
        player.Play();
        player.setFileName(QString());
    }
}

TEST(PlayerTest, MidiWithoutSoundfontAsksForOne) {
    GstPlayer player(kFastSink, QStringLiteral("/no/existe/GM.sf2"));
    const QString path = Files::get().midi1s();
    const QString message = refusal(player, path);
    EXPECT_TRUE(message.contains(QStringLiteral("MIDI")) && message.contains(QStringLiteral("soundfont")) &&
                message.contains(path))
        << message.toStdString();
    EXPECT_EQ(player.PlayState(), MediaPlayer::Closed);
}

TEST(PlayerTest, AwkwardFileNamesPlay) {
    TempDir dir;
    const QByteArray bytes = wav(pcm(0.2));
    const QStringList names = {QStringLiteral("con espacio.wav"), QStringLiteral("número #1.wav"),
                               QStringLiteral("100% 20%41.wav"),  QStringLiteral("¿qué?.wav"),
                               QStringLiteral("niño.wav"),        QStringLiteral("àéîõü Ç.wav")};
    QDir(dir.path()).mkdir(QStringLiteral("sub dir"));
    dir.write(QStringLiteral("sub dir/relativo.wav"), bytes);
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    GstPlayer player(kFastSink);
    QStringList paths = {QStringLiteral("sub dir/relativo.wav")};
    for (const QString& name : names) {
        dir.write(name, bytes);
        paths << dir.file(name);
    }
    for (const QString& path : paths) {
        try {
            player.setFileName(path);
            player.Play();
        } catch (const PlayerError& e) {
            ADD_FAILURE() << e.message().toStdString();
            continue;
        }
        EXPECT_NEAR(player.Duration(), 0.2, 0.01) << path.toStdString();
        EXPECT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }))
            << path.toStdString();
    }
    QDir::setCurrent(previous);
}

TEST(PlayerTest, WhatReachesTheOutputIsTheFilesSamples) {
    TempDir dir;
    const QByteArray samples = pcm(0.5);
    dir.write(QStringLiteral("origen.wav"), wav(samples));
    const QString captured = dir.file(QStringLiteral("salida.wav"));
    GstPlayer player(QStringLiteral("audioconvert ! audio/x-raw,format=S16LE ! wavenc ! "
                                    "filesink location=\"%1\"")
                         .arg(captured));
    player.setFileName(dir.file(QStringLiteral("origen.wav")));
    player.Play();
    ASSERT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }));
    const QByteArray out = wavData(dir.read(QStringLiteral("salida.wav")));
    EXPECT_EQ(out.size(), samples.size());
    EXPECT_TRUE(out == samples) << "the samples differ";
}

TEST(PlayerTest, AnEndNotYetSeenDoesNotStopTheNextFile) {
    GstPlayer player(kRealTimeSink);
    player.setFileName(Files::get().wavShort());
    player.Play();
    QThread::msleep(200); // it ends meanwhile; the event loop does not run
    player.setFileName(Files::get().wav2s());
    player.Play();
    runEvents(200);
    EXPECT_EQ(player.PlayState(), MediaPlayer::Playing);
    EXPECT_GT(player.CurrentPosition(), 0.1);
}

TEST(PlayerTest, DestroyingAPlayingPlayerLeavesNoWakeUpBehind) {
    for (int i = 0; i < 5; ++i) {
        auto player = std::make_unique<GstPlayer>(i % 2 ? kFastSink : kRealTimeSink);
        player->setFileName(Files::get().wav1s());
        player->Play();
        QThread::msleep(i * 5);
        player.reset();
        runEvents(20);
    }
    // Also from its own signal, as a window closing at a file's end would.
    auto player = std::make_unique<GstPlayer>(kFastSink);
    QObject::connect(player->notifier(), &melofon::playback::PlayerNotifier::stateChanged,
                     [&] { player.reset(); });
    player->setFileName(Files::get().wav1s());
    player->Play();
    EXPECT_TRUE(waitUntil([&] { return !player; }));
}

TEST(PlayerTest, MidiFilesPlayedLeaveNoSynthesizerBehind) {
    // A synthesizer kept alive past its file cannot free its soundfont and polls for that,
    // ten times a second, from a thread of its own named "timer".
    const auto pollers = [] {
        int n = 0;
        for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
            n += comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("timer");
        }
        return n;
    };
    GstPlayer player(kFastSink);
    for (int i = 0; i < 3; ++i) {
        player.setFileName(Files::get().midi1s());
        player.Play();
        ASSERT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }));
    }
    player.setFileName(Files::get().wav1s()); // lets the last synthesizer go
    runEvents(50);
    EXPECT_EQ(pollers(), 0);
}
