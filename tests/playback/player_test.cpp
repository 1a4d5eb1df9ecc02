#include "playback/gst_player.h"
#include "support/sound_files.h"
#include "support/dead_share.h"
#include "support/stalled_sink.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

using melofon::playback::GstPlayer;
using melofon::playback::MediaPlayer;
using melofon::playback::PlayerError;
using melofon::playback::PlayerNotifier;
using melofon::test::TempDir;

namespace {

// GStreamer started before each test, as an earlier file would have started it: the tests'
// own short waits are for the file, not for GStreamer's start, which takes a few hundred
// milliseconds under the sanitizers.
class EngineStarted : public ::testing::Environment {
    void SetUp() override { GstPlayer::startEngine(); }
};
[[maybe_unused]] const auto* const kEngineStarted = ::testing::AddGlobalTestEnvironment(new EngineStarted);

const QString kFastSink = QStringLiteral("fakesink sync=false");
const QString kRealTimeSink = QStringLiteral("fakesink sync=true");

// Sound files every test may use, made once per process in a scratch directory.
class Files {
public:
    static Files& get() {
        static Files files;
        return files;
    }
    QString wav1s() { return make(QStringLiteral("uno.wav"), [&](const QString& f) { write(f, 1.0); }); }
    QString wav2s() { return make(QStringLiteral("dos.wav"), [&](const QString& f) { write(f, 2.0); }); }
    QString wavShort() { return make(QStringLiteral("corto.wav"), [&](const QString& f) { write(f, 0.05); }); }
    QString midi1s() {
        return make(QStringLiteral("notas.mid"), [&](const QString& f) { dir_.write(f, melofon::test::midi()); });
    }
    // A picture, under a sound file's name.
    QString image() {
        return make(QStringLiteral("imagen.mp3"), [&](const QString& f) {
            launch(f, QStringLiteral("videotestsrc num-buffers=1 ! pngenc"));
        });
    }

private:
    QString make(const QString& name, const std::function<void(const QString&)>& write) {
        const QString path = dir_.file(name);
        if (!QFile::exists(path))
            write(name);
        return path;
    }
    void write(const QString& name, double seconds) { dir_.write(name, melofon::test::wav(melofon::test::pcm(seconds))); }
    static QString tone(int tenths) {
        return QStringLiteral("audiotestsrc wave=sine num-buffers=%1 samplesperbuffer=4410 ! "
                              "audio/x-raw,rate=44100,channels=2 ! ")
            .arg(tenths);
    }
    void launch(const QString& name, const QString& pipeline) { melofon::test::gstLaunch(pipeline, dir_.file(name)); }
    TempDir dir_;
};

// Runs the event loop until `done` or the time limit, looking again every few milliseconds
// for what changes without an event (a pipeline's volume).
bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    bool late = false;
    QTimer limit, look;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] { late = true; });
    limit.start(milliseconds);
    look.start(5);
    while (!done() && !late)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// Lets the event loop run for a while, as a window would between user actions.
void runEvents(int milliseconds) {
    waitUntil([] { return false; }, milliseconds);
}

// What the player said about the files it was given.
struct Heard {
    explicit Heard(MediaPlayer& player) {
        QObject::connect(player.notifier(), &PlayerNotifier::started, &context,
                         [this](quint64 open, const QString& path, quint64 cue) {
                             started.push_back(open);
                             paths << path;
                             handovers += cue != 0;
                         });
        QObject::connect(player.notifier(), &PlayerNotifier::failed, &context,
                         [this](quint64 open, const QString& message) { failures[open] = message; });
        QObject::connect(player.notifier(), &PlayerNotifier::nextFailed, &context,
                         [this](quint64 cue, const QString& message) { nextFailures[cue] = message; });
    }
    QObject context; // the connections end with it
    std::vector<quint64> started;
    QStringList paths;
    int handovers = 0;
    std::map<quint64, QString> failures, nextFailures;
};

// Opens and plays `path`, until it sounds or fails: the failure's message, or empty.
QString play(GstPlayer& player, const QString& path) {
    Heard heard(player);
    player.setFileName(path);
    const quint64 open = player.Opens();
    player.Play();
    // Longer than the player's own 10 s give-up: a synthesizer loading its soundfont under
    // the sanitizers, beside other tests, has taken more than 5 s.
    const bool told = waitUntil([&] {
        return heard.failures.count(open) || std::find(heard.started.begin(), heard.started.end(), open) != heard.started.end();
    }, 15000);
    EXPECT_TRUE(told) << "no word on " << path.toStdString();
    return heard.failures.count(open) ? heard.failures[open] : QString();
}

void playToTheEnd(GstPlayer& player, const QString& path) {
    const QString failure = play(player, path);
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
    ASSERT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; })) << "no end";
}

// What reached the output: samples (one channel, mixed down), where the stream's
// timestamps end, and the decoders that made them.
struct Counted {
    std::atomic<qint64> frames{0};
    std::atomic<gint64> endNs{0};
    std::mutex mutex;
    QStringList decoders;

    void findDecoders(GstPad* pad) {
        GstObject* top = gst_pad_get_parent(pad);
        while (GstObject* up = top ? gst_object_get_parent(top) : nullptr) {
            gst_object_unref(top);
            top = up;
        }
        QStringList found;
        GstIterator* it = gst_bin_iterate_recurse(GST_BIN(top));
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            GstElementFactory* f = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
            if (f && std::strstr(gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS), "Codec/Decoder"))
                found << QString::fromUtf8(GST_OBJECT_NAME(f));
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
        gst_object_unref(top);
        found.sort();
        std::lock_guard lock(mutex);
        decoders = found;
    }
    GstElement* sink() {
        GstElement* bin =
            gst_parse_bin_from_description("audioconvert ! audio/x-raw,format=S16LE,channels=1 ! fakesink name=out", TRUE, nullptr);
        GstElement* out = gst_bin_get_by_name(GST_BIN(bin), "out");
        GstPad* pad = gst_element_get_static_pad(out, "sink");
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad* pad, GstPadProbeInfo* info, gpointer self) {
                auto* c = static_cast<Counted*>(self);
                GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
                if (c->frames == 0)
                    c->findDecoders(pad);
                c->frames += qint64(gst_buffer_get_size(b) / 2);
                if (GST_BUFFER_PTS_IS_VALID(b) && GST_BUFFER_DURATION_IS_VALID(b))
                    c->endNs = std::max<gint64>(c->endNs, gint64(GST_BUFFER_PTS(b) + GST_BUFFER_DURATION(b)));
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
        gst_object_unref(pad);
        gst_object_unref(out);
        return bin;
    }
};

// One file of each kind an old music folder holds, made by the tools that write them: sox
// the WAV files, lame the MP3 files, and our own writer what neither writes.
class Corpus {
public:
    static Corpus& get() {
        static Corpus corpus;
        return corpus;
    }
    // Half a second of a tone, as sox writes it with `format` (its output options).
    QString wav(const QString& name, const QString& format) {
        return make(name, [&](const QString& f) { sox(f, format); });
    }
    // The tone at `rate` and `channels`, encoded by lame with `options`.
    QString mp3(const QString& name, int rate, int channels, const QString& options) {
        return make(name, [&](const QString& f) {
            const QString source = QStringLiteral("%1.wav").arg(name);
            sox(source, QStringLiteral("-r %1 -c %2 -b 16").arg(rate).arg(channels));
            melofon::test::runProgram(QStringLiteral("lame"), QStringList{QStringLiteral("--quiet")} +
                                                                  QProcess::splitCommand(options) +
                                                                  QStringList{dir_.file(source), dir_.file(f)});
        });
    }
    QString own(const QString& name, const std::function<QByteArray()>& bytes) {
        return make(name, [&](const QString& f) { dir_.write(f, bytes()); });
    }
    QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QString make(const QString& name, const std::function<void(const QString&)>& write) {
        if (!QFile::exists(dir_.file(name)))
            write(name);
        return dir_.file(name);
    }
    void sox(const QString& name, const QString& format) {
        melofon::test::runProgram(QStringLiteral("sox"), QStringList{QStringLiteral("-n")} + QProcess::splitCommand(format) +
                                                             QStringList{dir_.file(name), QStringLiteral("synth"),
                                                                         QStringLiteral("0.5"), QStringLiteral("sine"),
                                                                         QStringLiteral("440")});
    }
    TempDir dir_;
};

QByteArray le32(quint32 v) { QByteArray b(4, '\0'); qToLittleEndian(v, b.data()); return b; }
QByteArray le16(quint16 v) { QByteArray b(2, '\0'); qToLittleEndian(v, b.data()); return b; }

// An MP3 stream inside a WAV file (format tag 0x55), as Windows' recorder saved it.
QByteArray mp3InWav(const QByteArray& mp3, int rate, int channels, quint32 frames) {
    const QByteArray fmt = le16(0x55) + le16(quint16(channels)) + le32(quint32(rate)) + le32(16000) + le16(1) +
                           le16(0) + le16(12) + le16(1) + le32(2) + le16(417) + le16(1) + le16(1393);
    QByteArray body = QByteArray("WAVEfmt ") + le32(quint32(fmt.size())) + fmt + "fact" + le32(4) + le32(frames) +
                      "data" + le32(quint32(mp3.size())) + mp3;
    if (mp3.size() % 2)
        body += '\0';
    return "RIFF" + le32(quint32(body.size())) + body;
}

// A 3 MB picture in an ID3v2 tag before the frames, an APE tag and an ID3v1 tag after.
QByteArray tagged(const QByteArray& mp3) {
    const QByteArray picture = QByteArray("\0image/jpeg\0\3\0", 14) + QByteArray(3 << 20, '\x5a');
    const quint32 frame = quint32(picture.size()), tag = frame + 10;
    QByteArray id3 = QByteArray("ID3\3\0\0", 6);
    for (int shift : {21, 14, 7, 0})
        id3 += char((tag >> shift) & 0x7F);
    id3 += QByteArray("APIC") + char(frame >> 24) + char(frame >> 16) + char(frame >> 8) + char(frame) + QByteArray(2, '\0');
    const QByteArray item = le32(5) + le32(0) + "Title" + '\0' + "Nana";
    const auto apeFooter = [&](quint32 flags) {
        return QByteArray("APETAGEX") + le32(2000) + le32(quint32(item.size() + 32)) + le32(1) + le32(flags) +
               QByteArray(8, '\0');
    };
    QByteArray id3v1 = QByteArray("TAG") + QByteArray(125, ' ');
    return id3 + picture + mp3 + apeFooter(0xA0000000u) + item + apeFooter(0x80000000u) + id3v1;
}

// MIDI of format 1: the tempo in a track of its own, the notes in a second.
QByteArray midiFormat1() {
    const auto chunk = [](const QByteArray& track) {
        QByteArray length(4, '\0');
        qToBigEndian<quint32>(quint32(track.size()), length.data());
        return "MTrk" + length + track;
    };
    return QByteArray::fromHex("4d546864000000060001000201e0") + chunk(QByteArray::fromHex("00ff510307a12000ff2f00")) +
           chunk(melofon::test::midi().mid(22));
}

// A standard MIDI file in a RIFF wrapper (RMID), as Windows saved it.
QByteArray rmid() {
    const QByteArray smf = melofon::test::midi();
    return "RIFF" + le32(quint32(smf.size() + 12)) + "RMIDdata" + le32(quint32(smf.size())) + smf;
}

struct Kind {
    const char* name;
    std::function<QString()> file;
    double seconds; // of the samples it truly holds
    int rate;
    int slack; // the samples of one coded frame: a decoder's unit
    const char* decoder = ""; // the one chosen for it, whatever else is installed
};
void PrintTo(const Kind& k, std::ostream* out) { *out << k.name; }

class EachKind : public ::testing::TestWithParam<Kind> {};

} // namespace

// Each plays whole, at its own speed, and its true length is known when it starts and
// stays as it was; played again, from the start, it is the same.
TEST_P(EachKind, PlaysWholeWithItsTrueLength) {
    const Kind k = GetParam();
    const QString path = k.file();
    Counted counted;
    GstPlayer player([&] { return counted.sink(); });
    int signalled = 0, stateAtSignal = -1;
    QObject::connect(player.notifier(), &PlayerNotifier::stateChanged, [&] {
        ++signalled;
        stateAtSignal = player.PlayState();
    });
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "played" : "played again");
        counted.frames = 0;
        counted.endNs = 0;
        signalled = 0;
        ASSERT_EQ(play(player, path), QString());
        EXPECT_EQ(player.FileName(), path);
        const double atStart = player.Duration();
        ASSERT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }, 15000)) << "no word of the end";
        EXPECT_TRUE(player.lastError().isEmpty()) << player.lastError().toStdString();
        const qint64 frames = counted.frames;
        EXPECT_NEAR(double(frames), k.seconds * k.rate, k.slack) << "samples out";
        EXPECT_NEAR(atStart, double(frames) / k.rate, 0.05) << "the length known at the start";
        EXPECT_EQ(player.Duration(), atStart) << "the length changed after the start";
        EXPECT_NEAR(double(counted.endNs) / 1e9, double(frames) / k.rate, 0.05) << "the samples' times";
        {
            std::lock_guard lock(counted.mutex);
            EXPECT_EQ(counted.decoders.join(QLatin1Char(' ')).toStdString(), k.decoder);
        }
        EXPECT_EQ(player.CurrentPosition(), 0);
        runEvents(0);
        EXPECT_GE(signalled, 1);
        EXPECT_EQ(stateAtSignal, MediaPlayer::Stopped);
    }
}

namespace {

Corpus& corpus() { return Corpus::get(); }
QString wav(const char* name, const char* format) { return corpus().wav(QString::fromLatin1(name), QString::fromLatin1(format)); }
QString mp3(const char* name, int rate, int channels, const char* options) {
    return corpus().mp3(QString::fromLatin1(name), rate, channels, QString::fromLatin1(options));
}
// What lame puts before and after the samples when it writes no header to say so.
constexpr double kLameUntrimmed = 1105;

} // namespace

INSTANTIATE_TEST_SUITE_P(
    OldMusicFolder, EachKind,
    ::testing::Values(
        // 8-bit mono with an odd count of samples: the data chunk ends on a pad byte.
        Kind{"Pcm8OddCount", [] { return wav("u8.wav", "-r 22050 -c 1 -b 8 -e unsigned-integer"); }, 0.5, 22050, 1},
        Kind{"Pcm16Stereo", [] { return wav("s16.wav", "-r 44100 -c 2 -b 16"); }, 0.5, 44100, 1},
        Kind{"Pcm24", [] { return wav("s24.wav", "-r 48000 -c 2 -b 24"); }, 0.5, 48000, 1},
        Kind{"Pcm32At96k", [] { return wav("s32.wav", "-r 96000 -c 2 -b 32"); }, 0.5, 96000, 1},
        Kind{"Float32", [] { return wav("f32.wav", "-r 44100 -c 1 -b 32 -e floating-point"); }, 0.5, 44100, 1},
        Kind{"Float64", [] { return wav("f64.wav", "-r 44100 -c 1 -b 64 -e floating-point"); }, 0.5, 44100, 1},
        Kind{"ImaAdpcm", [] { return wav("ima.wav", "-r 22050 -c 1 -e ima-adpcm"); }, 0.5, 22050, 1024},
        Kind{"MsAdpcm", [] { return wav("ms.wav", "-r 22050 -c 1 -e ms-adpcm"); }, 0.5, 22050, 1024},
        Kind{"ALaw", [] { return wav("alaw.wav", "-r 8000 -c 1 -e a-law"); }, 0.5, 8000, 1},
        Kind{"MuLaw", [] { return wav("ulaw.wav", "-r 11025 -c 1 -e u-law"); }, 0.5, 11025, 1},
        Kind{"Gsm610", [] { return wav("gsm.wav", "-r 8000 -c 1 -e gsm-full-rate"); }, 0.5, 8000, 320},
        // sox writes WAVE_FORMAT_EXTENSIBLE for more than two channels.
        Kind{"Extensible8ChannelsAt192k", [] { return wav("ext8.wav", "-r 192000 -c 8 -b 16"); }, 0.5, 192000, 1},
        Kind{"Extensible3Channels", [] { return wav("ext3.wav", "-r 8000 -c 3 -b 24"); }, 0.5, 8000, 1},
        Kind{"Mp3InWav", [] { return corpus().own(QStringLiteral("mp3.wav"), [] {
                 return mp3InWav(corpus().read(mp3("cbr-info.mp3", 44100, 2, "-b 128")), 44100, 2, 22050); }); },
             0.5, 44100, 1152},
        Kind{"Mpeg1CbrInfoHeader", [] { return mp3("cbr-info.mp3", 44100, 2, "-b 128"); }, 0.5, 44100, 1152, "mpg123audiodec"},
        Kind{"Mpeg1VbrXingHeader", [] { return mp3("vbr-xing.mp3", 44100, 2, "-V 2"); }, 0.5, 44100, 1152, "mpg123audiodec"},
        Kind{"Mpeg1VbrNoHeader", [] { return mp3("vbr-bare.mp3", 44100, 2, "-V 2 -t"); },
             0.5 + kLameUntrimmed / 44100, 44100, 1152, "mpg123audiodec"},
        Kind{"Mpeg2VbrNoHeader", [] { return mp3("mpeg2-bare.mp3", 22050, 1, "-V 5 -t --resample 22.05"); },
             0.5 + kLameUntrimmed / 22050, 22050, 576, "mpg123audiodec"},
        Kind{"Mpeg25CbrInfoHeader", [] { return mp3("mpeg25-info.mp3", 8000, 1, "-b 32 --resample 8"); }, 0.5, 8000, 576, "mpg123audiodec"},
        Kind{"Mpeg25VbrNoHeader", [] { return mp3("mpeg25-bare.mp3", 11025, 1, "-V 6 -t --resample 11.025"); },
             0.5 + kLameUntrimmed / 11025, 11025, 576, "mpg123audiodec"},
        Kind{"Mp3WithLargeCoverAndTagsAtTheEnd", [] { return corpus().own(QStringLiteral("tagged.mp3"), [] {
                 return tagged(corpus().read(mp3("vbr-xing.mp3", 44100, 2, "-V 2"))); }); }, 0.5, 44100, 1152,
             "mpg123audiodec"},
        Kind{"MidiFormat0", [] { return corpus().own(QStringLiteral("f0.mid"), [] { return melofon::test::midi(); }); },
             1.0, 44100, 2048, "fluiddec"},
        Kind{"MidiFormat1", [] { return corpus().own(QStringLiteral("f1.mid"), midiFormat1); }, 1.0, 44100, 2048, "fluiddec"},
        Kind{"Rmid", [] { return corpus().own(QStringLiteral("rmid.mid"), rmid); }, 1.0, 44100, 2048, "fluiddec"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlayerTest, PauseHoldsThePositionStopRewinds) {
    // The sound server's own pauses (a call) are posted by the output, as here.
    std::atomic<GstElement*> output{nullptr};
    GstPlayer player([&] {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", TRUE, nullptr);
        output = sink;
        return sink;
    });
    const auto engineAsks = [&](GstState state) {
        gst_element_post_message(output, gst_message_new_request_state(GST_OBJECT(output.load()), state));
        runEvents(100);
    };
    ASSERT_EQ(play(player, Files::get().wav2s()), QString());
    engineAsks(GST_STATE_PAUSED);
    EXPECT_EQ(player.PlayState(), MediaPlayer::Paused);
    engineAsks(GST_STATE_PLAYING);
    EXPECT_EQ(player.PlayState(), MediaPlayer::Playing) << "the engine's pause ends with the engine";
    engineAsks(GST_STATE_PAUSED);
    player.Pause();
    engineAsks(GST_STATE_PLAYING);
    EXPECT_EQ(player.PlayState(), MediaPlayer::Paused) << "a pause asked for while held is kept";
    player.Pause();
    EXPECT_EQ(player.PlayState(), MediaPlayer::Playing);
    player.Stop();
    ASSERT_EQ(play(player, Files::get().wav2s()), QString());
    runEvents(200);
    EXPECT_GT(player.CurrentPosition(), 0.1);

    player.Pause();
    EXPECT_EQ(player.PlayState(), MediaPlayer::Paused);
    runEvents(50);
    const double held = player.CurrentPosition();
    runEvents(150);
    EXPECT_NEAR(player.CurrentPosition(), held, 0.01);
    EXPECT_EQ(player.PlayState(), MediaPlayer::Paused);

    player.Pause(); // resumes
    EXPECT_EQ(player.PlayState(), MediaPlayer::Playing);
    runEvents(200);
    EXPECT_GT(player.CurrentPosition(), held + 0.1);

    player.Stop();
    EXPECT_EQ(player.PlayState(), MediaPlayer::Stopped) << "at once";
    EXPECT_EQ(player.CurrentPosition(), 0);
    player.Pause(); // nothing to pause
    EXPECT_EQ(player.PlayState(), MediaPlayer::Stopped);
    Heard heard(player);
    player.Play();
    ASSERT_TRUE(waitUntil([&] { return !heard.started.empty(); }));
    EXPECT_LT(player.CurrentPosition(), 0.1);
    EXPECT_NEAR(player.Duration(), 2.0, 0.01);
}

TEST(PlayerTest, VolumeReadsBackAndSetsTheLinearGain) {
    GstPlayer player(kFastSink);
    EXPECT_EQ(player.Volume(), 0);
    ASSERT_EQ(play(player, Files::get().wav2s()), QString());
    EXPECT_DOUBLE_EQ(player.appliedGain(), 1.0);
    const std::map<int, int> readBack = {
        {-2500, -2500}, {-1, -1}, {-10000, -10000}, {-10001, -10000}, {-99999, -10000}, {5, 0}};
    for (const auto& [written, read] : readBack) {
        player.setVolume(written);
        EXPECT_EQ(player.Volume(), read) << written;
        EXPECT_TRUE(waitUntil([&] { return std::abs(player.appliedGain() - std::pow(10.0, read / 2000.0)) < 1e-7; }))
            << written << ": " << player.appliedGain();
    }
    // The level holds across files.
    player.setVolume(-2500);
    ASSERT_EQ(play(player, Files::get().wav1s()), QString());
    EXPECT_EQ(player.Volume(), -2500);
    EXPECT_NEAR(player.appliedGain(), std::pow(10.0, -1.25), 1e-7);
}

TEST(PlayerTest, FilesThatCannotBePlayedAreRefusedAndLeaveItClosed) {
    TempDir dir;
    dir.write(QStringLiteral("vacío.wav"), {});
    dir.write(QStringLiteral("texto.mp3"), "Esto no es música, es una lista de la compra.\n");
    QDir(dir.path()).mkdir(QStringLiteral("carpeta.mp3"));
    // No writer will ever open it: reading it would wait for ever.
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.file(QStringLiteral("tubería.wav"))).constData(), 0600), 0);
    const std::map<QString, QString> reasons = {
        {dir.file(QStringLiteral("no-existe.wav")), QStringLiteral("no existe")},
        {dir.file(QStringLiteral("vacío.wav")), QStringLiteral("vacío")},
        {dir.file(QStringLiteral("texto.mp3")), QStringLiteral("no es un archivo de sonido")},
        {dir.file(QStringLiteral("carpeta.mp3")), QStringLiteral("carpeta")},
        {dir.file(QStringLiteral("tubería.wav")), QStringLiteral("no es un archivo normal")},
        {Files::get().image(), QStringLiteral("no es un archivo de sonido")},
    };
    GstPlayer player(kRealTimeSink);
    for (const auto& [path, reason] : reasons) {
        ASSERT_EQ(play(player, Files::get().wav2s()).toStdString(), ""); // must not go on playing
        const QString message = play(player, path);
        EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path)) && message.contains(reason))
            << message.toStdString();
        EXPECT_EQ(player.FileName(), path);
        EXPECT_EQ(player.PlayState(), MediaPlayer::Closed);
        EXPECT_EQ(player.Duration(), 0);
        EXPECT_EQ(player.CurrentPosition(), 0);
        EXPECT_THROW(player.Play(), PlayerError);
    }
}

TEST(PlayerTest, WithNoFileOpenStopAndPauseDoNothingAndPlayIsRefused) {
    GstPlayer player(kFastSink);
    for (int round = 0; round < 2; ++round) { // new, then after closing an open file
        EXPECT_EQ(player.PlayState(), MediaPlayer::Closed);
        EXPECT_EQ(player.FileName(), QString());
        EXPECT_NO_THROW(player.Stop());
        EXPECT_NO_THROW(player.Pause());
        EXPECT_EQ(player.PlayState(), MediaPlayer::Closed);
        try {
            player.Play();
            ADD_FAILURE() << "played with no file open";
        } catch (const PlayerError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("No hay ningún archivo abierto."));
        }
        ASSERT_EQ(play(player, Files::get().wav1s()), QString());
        player.setFileName(QString());
    }
}

TEST(PlayerTest, MidiWithoutSoundfontAsksForOne) {
    GstPlayer player(kFastSink, QStringLiteral("/no/existe/GM.sf2"));
    const QString path = Files::get().midi1s();
    const QString message = play(player, path);
    EXPECT_TRUE(message.contains(QStringLiteral("MIDI")) && message.contains(QStringLiteral("soundfont")) &&
                message.contains(path))
        << message.toStdString();
    EXPECT_EQ(player.PlayState(), MediaPlayer::Closed);
}

TEST(PlayerTest, AwkwardFileNamesPlay) {
    TempDir dir;
    const QByteArray bytes = melofon::test::wav(melofon::test::pcm(0.2));
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
        SCOPED_TRACE(path.toStdString());
        playToTheEnd(player, path);
        EXPECT_NEAR(player.Duration(), 0.2, 0.01);
    }
    QDir::setCurrent(previous);
}

TEST(PlayerTest, AFileHandedOverFollowsWithoutAGapAndWhatReachesTheOutputIsTheFilesSamples) {
    TempDir dir;
    const QByteArray first = melofon::test::pcm(0.5, 1), second = melofon::test::pcm(0.3, 2);
    dir.write(QStringLiteral("uno.wav"), melofon::test::wav(first));
    dir.write(QStringLiteral("dos.wav"), melofon::test::wav(second));
    dir.write(QStringLiteral("ruido.mp3"), QByteArray(40000, '\x5a') + "no es sonido");
    // The same samples in 24 bits: another format at the output.
    QByteArray wide = melofon::test::wav(second);
    for (qsizetype at = wide.size() - 2; at >= 44; at -= 2)
        wide.insert(at, '\0');
    qToLittleEndian<quint32>(quint32(wide.size() - 8), wide.data() + 4);
    qToLittleEndian<quint32>(44100 * 6, wide.data() + 28);
    qToLittleEndian<quint16>(6, wide.data() + 32);
    qToLittleEndian<quint16>(24, wide.data() + 34);
    qToLittleEndian<quint32>(quint32(wide.size() - 44), wide.data() + 40);
    dir.write(QStringLiteral("ancho.wav"), wide);
    const QString captured = dir.file(QStringLiteral("salida.raw"));
    const struct {
        const char* name;
        const char* next; // queued when the first file starts
        bool handedOver;
        QByteArray samples;
    } cases[] = {
        // One stream, sample for sample: nothing lost, doubled or put between the two files.
        {"a playable next file follows without a gap", "dos.wav", true, first + second},
        // Refused before it is queued: the first file ends as if nothing followed.
        {"a missing next file", "no-existe.wav", false, first},
        // Taken by the engine, fails to decode while the first still plays: that one's
        // failure, and the first file plays to its last sample.
        {"an undecodable next file", "ruido.mp3", false, first},
        // The output would let go of the end of the first file to change its format: the
        // first ends, whole, and the next is left to be opened anew.
        {"a next file of another format", "ancho.wav", false, first},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(captured);
        GstPlayer player(QStringLiteral("audioconvert ! audio/x-raw,format=S16LE ! filesink sync=true location=\"%1\"").arg(captured));
        Heard heard(player);
        const QString next = dir.file(QString::fromLatin1(c.next));
        // As the walk does: what follows is named with the file opened.
        player.setFileName(dir.file(QStringLiteral("uno.wav")));
        player.setNextFiles({{next, 7}});
        player.Play();
        ASSERT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }));
        EXPECT_EQ(heard.handovers, c.handedOver ? 1 : 0);
        EXPECT_EQ(player.FileName(), dir.file(QString::fromLatin1(c.handedOver ? "dos.wav" : "uno.wav")));
        if (c.handedOver) {
            EXPECT_EQ(heard.paths.back(), next) << "the start names the file";
            EXPECT_EQ(heard.started.back(), player.Opens());
        }
        EXPECT_EQ(heard.nextFailures.count(7), std::string(c.next) == "ruido.mp3" ? 1u : 0u);
        const QByteArray out = dir.read(QStringLiteral("salida.raw"));
        EXPECT_EQ(out.size(), c.samples.size());
        EXPECT_TRUE(out == c.samples) << "the samples differ";
    }
}

// The engine takes the next file long before the playing one ends; if the caller has
// changed its mind by the end, the file taken is not played.
TEST(PlayerTest, AFileTakenEarlyIsDroppedAtTheJointIfItNoLongerFollows) {
    TempDir dir;
    const QByteArray first = melofon::test::pcm(0.4, 1);
    dir.write(QStringLiteral("uno.wav"), melofon::test::wav(first));
    dir.write(QStringLiteral("dos.wav"), melofon::test::wav(melofon::test::pcm(0.3, 2)));
    const QString captured = dir.file(QStringLiteral("salida.raw"));
    GstPlayer player(QStringLiteral("audioconvert ! audio/x-raw,format=S16LE ! filesink sync=true location=\"%1\"").arg(captured));
    Heard heard(player);
    player.setFileName(dir.file(QStringLiteral("uno.wav")));
    player.setNextFiles({{dir.file(QStringLiteral("dos.wav")), 1}});
    player.Play();
    // Read to its end and taken at once; then the walk changes its mind.
    QTimer::singleShot(200, &heard.context, [&] { player.setNextFiles({}); });
    ASSERT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }));
    EXPECT_EQ(heard.handovers, 0);
    EXPECT_TRUE(dir.read(QStringLiteral("salida.raw")) == first) << "the first file whole, nothing after it";
}

TEST(PlayerTest, AnEndNotYetSeenDoesNotStopTheNextFile) {
    GstPlayer player(kRealTimeSink);
    ASSERT_EQ(play(player, Files::get().wavShort()), QString());
    QThread::msleep(200); // it ends meanwhile; the event loop does not run
    ASSERT_EQ(play(player, Files::get().wav2s()), QString());
    runEvents(200);
    EXPECT_EQ(player.PlayState(), MediaPlayer::Playing);
    EXPECT_GT(player.CurrentPosition(), 0.1);
}

TEST(PlayerTest, AFileThatHangsHoldsNeitherTheCallerNorTheNextFileAndIsGivenUp) {
    // Outlives the test: the hung thread may still be on its way out.
    static auto* const kept = new melofon::test::Stall;
    melofon::test::Stall& stall = *kept;
    for (const bool stopped : {true, false}) {
        SCOPED_TRACE(stopped ? "stopped by the user" : "left to the wait");
        stall.reset();
        {
            GstPlayer player(stall.factory());
            player.setGiveUpAfter(std::chrono::milliseconds(400));
            Heard heard(player);
            player.setFileName(Files::get().wav1s());
            const quint64 open = player.Opens();
            player.Play();
            runEvents(200);
            EXPECT_EQ(player.PlayState(), MediaPlayer::Opening) << "the first file never gets going";
            if (stopped) {
                player.Stop();
                player.Pause();
            } else {
                ASSERT_TRUE(waitUntil([&] { return heard.failures.count(open) != 0; }, 2000)) << "never given up";
                EXPECT_TRUE(heard.failures[open].contains(QStringLiteral("no responde"))) << heard.failures[open].toStdString();
                EXPECT_EQ(player.PlayState(), MediaPlayer::Closed);
            }
            playToTheEnd(player, Files::get().wav1s());
            EXPECT_TRUE(player.lastError().isEmpty());
        } // closing does not wait for the hung pipeline for long
        stall.release();
        runEvents(100);
    }
}

TEST(PlayerTest, APlayerDestroyedFromItsOwnSignalLeavesNoWakeUpBehind) {
    // As a window closing at a file's end would.
    auto player = std::make_unique<GstPlayer>(kFastSink);
    QObject::connect(player->notifier(), &PlayerNotifier::stateChanged, [&] {
        if (player->PlayState() == MediaPlayer::Stopped)
            player.reset();
    });
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
    for (int i = 0; i < 3; ++i)
        playToTheEnd(player, Files::get().midi1s());
    playToTheEnd(player, Files::get().wav1s()); // lets the last synthesizer go
    EXPECT_TRUE(waitUntil([&] { return pollers() == 0; }, 1000));
}

namespace {

// The longest the event loop went without answering a 10 ms timer while `during` ran it.
int slowestAnswerMs(const std::function<void()>& during) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = std::max(worst, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    during();
    return int(worst);
}

} // namespace

TEST(PlayerTest, AFileOnAShareThatDoesNotAnswerHoldsNothingAndIsGivenUp) {
    melofon::test::DeadShare share;
    if (share.absent())
        GTEST_SKIP() << share.absent();
    GstPlayer player(kRealTimeSink);
    player.setGiveUpAfter(std::chrono::milliseconds(500));
    Heard heard(player);
    // To be opened: refused once the wait is over, and the caller is never held.
    const int opening = slowestAnswerMs([&] {
        player.setFileName(share.file());
        player.Play();
        EXPECT_TRUE(waitUntil([&] { return heard.failures.count(player.Opens()) != 0; }, 3000));
    });
    EXPECT_TRUE(heard.failures[player.Opens()].contains(QStringLiteral("no responde")));
    EXPECT_LT(opening, 100);
    // To follow a playing file: it is never taken, and the file before ends as usual.
    const int following = slowestAnswerMs([&] {
        player.setFileName(Files::get().wav1s());
        player.setNextFiles({{share.file(), 1}});
        player.Play();
        EXPECT_TRUE(waitUntil([&] { return player.PlayState() == MediaPlayer::Stopped; }, 5000));
    });
    EXPECT_EQ(heard.handovers, 0);
    EXPECT_EQ(player.FileName(), Files::get().wav1s());
    EXPECT_LT(following, 100);
}
