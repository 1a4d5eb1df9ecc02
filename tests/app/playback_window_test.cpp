#include "app/frm_principal.h"
#include "playback/gst_player.h"
#include "support/fake_player.h"
#include "support/sound_files.h"
#include "support/scripted_dialogs.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using melofon::app::frmPrincipal;
using melofon::playback::MediaPlayer;
using melofon::test::FakePlayer;

namespace {

// Runs the event loop until `done`, or fails after a while.
void runUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    QTimer limit, look;
    bool late = false;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] { late = true; });
    limit.start(milliseconds);
    look.start(1);
    while (!done() && !late)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_TRUE(done()) << "the awaited did not happen";
}

// An input box that stays open, running its own event loop as a modal dialog does, while
// the test's `whileOpen` has not been satisfied.
class ModalInputBoxes : public melofon::editing::InputBoxes {
public:
    QString InputBox(const QString&, const QString&, const QString&) override {
        runUntil(whileOpen, 20000);
        return {};
    }
    std::function<bool()> whileOpen = [] { return true; };
};

template <class Player>
class WindowWith : public ::testing::Test {
protected:
    explicit WindowWith(Player& p) : playerRef(p) {}
    void SetUp() override { window.start(); }
    QString elapsed() const { return window.lblMinTranscurridos->text() + QLatin1Char(':') + window.lblSegTranscurridos->text(); }
    QString duration() const { return window.lblMinDuracion->text() + QLatin1Char(':') + window.lblSegDuracion->text(); }
    // Playlist 1 with the given files, selected in the window.
    void showPlaylist(const QStringList& files) {
        melofon::test::addPlaylist(store, 1, QStringLiteral("a"));
        for (int i = 0; i < files.size(); ++i)
            melofon::test::addFile(store, 1, i + 1, files[i]);
        for (auto* source : {&store.dtcListas(), &store.dtcDocumentos(), &store.dtcLisDoc()})
            source->Refresh();
        window.LlenarListas();
        ASSERT_TRUE(window.lstListas->setListIndex(0));
    }

    Player& playerRef;
    melofon::test::TempDir dir;
    melofon::store::PlaylistStore store{dir.path()};
    melofon::test::ScriptedDialogs scripted;
    ModalInputBoxes modal;
    melofon::test::ScriptedMessageBoxes& messages = scripted.messages;
    frmPrincipal window{store, playerRef, {scripted.messages, modal, scripted.files}, dir.path(), [] {}};
};

struct FakePlayerHolder {
    FakePlayer player;
};

class PlaybackWindowTest : public FakePlayerHolder, public WindowWith<FakePlayer> {
protected:
    PlaybackWindowTest() : WindowWith<FakePlayer>(player) {}
    void showPlaylistOfThree() {
        showPlaylist({QStringLiteral("/musica/1.mp3"), QStringLiteral("/musica/2.mp3"), QStringLiteral("/musica/3.mp3")});
    }
    void startFile(const QString& path, double seconds) {
        player.durations[path] = seconds;
        window.playback().playFile(path);
        const quint64 open = player.Opens();
        runUntil([&] { return player.state != MediaPlayer::Opening || player.Opens() != open; });
    }
    // Files end as time goes by, 30 s every millisecond.
    void runTheClock(QTimer& clock, double step = 30) {
        clock.setInterval(1);
        QObject::connect(&clock, &QTimer::timeout, [this, step] { player.advance(step); });
        clock.start();
    }
};

} // namespace

TEST_F(PlaybackWindowTest, StartingAFileShowsItsNameDurationAndResetsTheDisplay) {
    const struct {
        const char* path;
        double seconds;
        const char* caption;
        const char* duration;
    } cases[] = {
        {"C:\\Musica\\tema.mp3", 185.4, "Melofon - tema.mp3", "03:05"},
        {"C:\\Musica\\Rock\\tema.mp3", 119.6, "Melofon - Rock\\tema.mp3", "02:00"},
        {"/home/ana/Música/a-b.wav", 250, "Melofon - ana/Música/a-b.wav", "04:10"},
        {"/musica/x.mid", 350, "Melofon - x.mid", "05:50"},
        {"ab", 0.4, "Melofon - ab", "00:00"},
        {"/a/tres horas.mp3", 3 * 3600 + 1, "Melofon - /a/tres horas.mp3", "180:01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        window.lblSegTranscurridos->setText(QStringLiteral("42"));
        window.hsTiempo->setValue(77);
        player.volume = -1200;
        startFile(QString::fromUtf8(c.path), c.seconds);
        EXPECT_EQ(window.windowTitle(), QString::fromUtf8(c.caption));
        EXPECT_EQ(duration(), QString::fromLatin1(c.duration));
        EXPECT_EQ(elapsed(), QStringLiteral("00:00"));
        EXPECT_EQ(window.hsTiempo->value(), 0);
        EXPECT_EQ(window.hsVolumen->value(), -1200);
        EXPECT_EQ(player.state, MediaPlayer::Playing);
    }
    // A file the player refuses shows nothing of itself.
    player.broken.insert(QStringLiteral("/no/está.mp3"));
    window.lblSegTranscurridos->setText(QStringLiteral("42"));
    startFile(QStringLiteral("/no/está.mp3"), 10);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Melofon - /a/tres horas.mp3"));
    EXPECT_EQ(duration(), QStringLiteral("180:01"));
    EXPECT_EQ(window.lblSegTranscurridos->text(), QStringLiteral("42"));
}

TEST_F(PlaybackWindowTest, TicksShowThePlayersOwnPositionAndStandStillWhilePaused) {
    startFile(QStringLiteral("/m/cuarenta.wav"), 40);
    player.advance(20.4);
    window.Timer1_Timer();
    EXPECT_EQ(elapsed(), QStringLiteral("00:20"));
    EXPECT_EQ(window.hsTiempo->value(), 51);

    startFile(QStringLiteral("/m/largo.mp3"), 185);
    EXPECT_EQ(elapsed(), QStringLiteral("00:00"));
    player.advance(101);
    window.Timer1_Timer();
    EXPECT_EQ(elapsed(), QStringLiteral("01:41"));
    EXPECT_EQ(window.hsTiempo->value(), 55);

    player.Pause();
    player.position = 150; // whatever the player says while paused, nothing moves
    window.Timer1_Timer();
    EXPECT_EQ(elapsed(), QStringLiteral("01:41"));
    EXPECT_EQ(window.hsTiempo->value(), 55);

    player.Pause();
    player.position = 184.9;
    window.Timer1_Timer();
    EXPECT_EQ(window.hsTiempo->value(), 100);
    window.hsTiempo->setValue(10); // dragging the bar does not seek
    window.Timer1_Timer();
    EXPECT_EQ(window.hsTiempo->value(), 100);
    EXPECT_DOUBLE_EQ(player.position, 184.9);

    // A corrected duration reaches the labels.
    player.duration = 200;
    emit player.notifier()->durationChanged();
    EXPECT_EQ(duration(), QStringLiteral("03:20"));
}

TEST_F(PlaybackWindowTest, VolumeBarSetsThePlayer) {
    window.hsVolumen->setValue(-2500);
    EXPECT_EQ(player.volume, -2500);
    window.hsVolumen->setValue(-10000);
    EXPECT_EQ(player.volume, -10000);
}

TEST_F(PlaybackWindowTest, PlayReturnsAtOnceTheWalkFollowsThePlayerAndStopEndsIt) {
    showPlaylistOfThree();
    const QStringList three = {QStringLiteral("/musica/1.mp3"), QStringLiteral("/musica/2.mp3"), QStringLiteral("/musica/3.mp3")};
    window.chkContinuado->setChecked(false);
    window.cmdPlay->click();
    EXPECT_TRUE(player.started.isEmpty()) << "nothing plays before the event loop runs";
    QTimer clock;
    runTheClock(clock);
    runUntil([&] { return player.started.size() == 3 && player.state == MediaPlayer::Stopped; });
    EXPECT_EQ(player.started, three);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Melofon - 3.mp3"));

    // While a file plays its row is bold; the current row is the next entry.
    clock.stop();
    player.started.clear();
    window.chkContinuado->setChecked(true);
    window.cmdPlay->click();
    runUntil([&] { return player.state == MediaPlayer::Playing; });
    EXPECT_EQ(window.lstContenido->boldRow(), 0);
    EXPECT_TRUE(window.lstContenido->item(0)->font().bold());
    EXPECT_EQ(window.lstContenido->ListIndex(), 1);
    ASSERT_FALSE(player.next.empty()) << "the next file is known in advance";
    EXPECT_EQ(player.next.front().path, QStringLiteral("/musica/2.mp3"));

    // Play during the walk starts it again from the first entry, without nesting.
    player.advance(60);
    window.cmdPlay->click();
    clock.start();
    runUntil([&] { return player.started.size() >= 5; });
    EXPECT_EQ(player.started.mid(0, 5), (QStringList{three[0], three[1], three[0], three[1], three[2]}));

    window.cmdStop->click();
    EXPECT_TRUE(window.Detenido);
    EXPECT_EQ(player.state, MediaPlayer::Stopped);
    const qsizetype played = player.started.size();
    QCoreApplication::processEvents();
    EXPECT_EQ(player.started.size(), played) << "nothing starts after Stop";
    EXPECT_EQ(window.lstContenido->boldRow(), -1);
    EXPECT_TRUE(messages.calls.empty());
}

TEST_F(PlaybackWindowTest, AModalDialogDuringAWalkDoesNotStopTheMusic) {
    showPlaylistOfThree();
    window.chkContinuado->setChecked(false);
    QTimer clock;
    runTheClock(clock);
    window.cmdPlay->click();
    runUntil([&] { return player.started.size() == 1; });
    // "Nueva" opens its name box; the other two files start while it is open.
    modal.whileOpen = [&] { return player.started.size() == 3; };
    window.cmdNuevaLis->click();
    EXPECT_EQ(player.started.size(), 3);
}

TEST_F(PlaybackWindowTest, SingleFileStripBrowsesPlaysAndControlsItsOwnFile) {
    EXPECT_FALSE(window.cmdPlayArchivo->isEnabled());
    window.txtArchivo->setText(QStringLiteral("x"));
    EXPECT_TRUE(window.cmdPlayArchivo->isEnabled());
    window.txtArchivo->clear();
    EXPECT_FALSE(window.cmdPlayArchivo->isEnabled());

    // "Agregar" left a multiple selection and a directory on the shared dialog.
    scripted.files.Flags = 0x80200;
    scripted.files.InitDir = QStringLiteral("/home/ana/Discos");
    scripted.files.choices = {QStringLiteral("/home/ana/Discos/Tema uno.MP3"), QString()};
    window.cmdExaminar->click();
    const auto& shown = scripted.files.shown.back();
    EXPECT_EQ(shown.title, QStringLiteral("Seleccione el archivo de sonido que desea escuchar"));
    EXPECT_EQ(shown.filter, QStringLiteral("MP3 (*.MP3)|*.MP3| MID (*.MID)|*.MID| WAV (*.WAV)|*.WAV;"));
    EXPECT_EQ(shown.flags & 0x200, 0) << "one file only";
    EXPECT_EQ(shown.initDir, QStringLiteral("/home/ana/Discos"));
    EXPECT_EQ(window.txtArchivo->text(), QStringLiteral("/home/ana/Discos/Tema uno.MP3"));
    window.cmdExaminar->click(); // cancelled
    EXPECT_EQ(window.txtArchivo->text(), QStringLiteral("/home/ana/Discos/Tema uno.MP3"));

    const auto playStrip = [&] {
        window.cmdPlayArchivo->click();
        runUntil([&] { return player.state != MediaPlayer::Opening; });
    };
    player.durations[window.txtArchivo->text()] = 185.4;
    playStrip();
    EXPECT_EQ(player.started.last(), QStringLiteral("/home/ana/Discos/Tema uno.MP3"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Melofon - ana/Discos/Tema uno.MP3"));
    EXPECT_EQ(duration(), QStringLiteral("03:05"));
    EXPECT_TRUE(window.cmdPauseArchivo->isEnabled());
    EXPECT_TRUE(window.cmdStopArchivo->isEnabled());

    window.cmdPauseArchivo->click();
    EXPECT_EQ(player.state, MediaPlayer::Paused);
    window.cmdPauseArchivo->click();
    EXPECT_EQ(player.state, MediaPlayer::Playing);
    window.Detenido = false;
    window.cmdStopArchivo->click();
    EXPECT_EQ(player.state, MediaPlayer::Stopped);
    EXPECT_FALSE(window.Detenido) << "the strip's stop is not the walk's";
    EXPECT_FALSE(window.cmdPauseArchivo->isEnabled());
    EXPECT_FALSE(window.cmdStopArchivo->isEnabled());

    // The file ends on its own: the buttons go with it.
    playStrip();
    player.advance(200);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.cmdStopArchivo->isEnabled());

    // A file the player refuses: a message naming it, nothing else changes.
    player.broken.insert(QStringLiteral("/no/existe.wav"));
    window.txtArchivo->setText(QStringLiteral("/no/existe.wav"));
    const QString caption = window.windowTitle();
    playStrip();
    ASSERT_FALSE(messages.calls.empty());
    EXPECT_TRUE(messages.calls.back().prompt.contains(QStringLiteral("/no/existe.wav")));
    EXPECT_EQ(messages.calls.back().title, QStringLiteral("Melofon"));
    EXPECT_EQ(window.windowTitle(), caption);
    EXPECT_FALSE(window.cmdStopArchivo->isEnabled());
}

TEST_F(PlaybackWindowTest, AFilePlayedFromTheStripDuringAWalkReplacesItsFileThenTheWalkGoesOn) {
    showPlaylistOfThree();
    window.chkContinuado->setChecked(false);
    window.txtArchivo->setText(QStringLiteral("/otra/suelta.wav"));
    QTimer clock;
    clock.setInterval(1);
    QObject::connect(&clock, &QTimer::timeout, [&] {
        if (player.started.size() == 1 && player.position > 10)
            window.cmdPlayArchivo->click(); // while the walk's first file plays
        player.advance(15);
    });
    clock.start();
    window.cmdPlay->click();
    runUntil([&] { return player.started.size() == 4 && player.state == MediaPlayer::Stopped; });
    EXPECT_EQ(player.started, (QStringList{QStringLiteral("/musica/1.mp3"), QStringLiteral("/otra/suelta.wav"),
                                           QStringLiteral("/musica/2.mp3"), QStringLiteral("/musica/3.mp3")}));
}

namespace {

struct GstPlayerHolder {
    explicit GstPlayerHolder(const char* sink) : player(QString::fromLatin1(sink)) {}
    melofon::playback::GstPlayer player;
};

class RealPlayerWindowTest : public GstPlayerHolder, public WindowWith<melofon::playback::GstPlayer> {
protected:
    explicit RealPlayerWindowTest(const char* sink = "fakesink sync=false")
        : GstPlayerHolder(sink), WindowWith<melofon::playback::GstPlayer>(player) {}
};

class RealTimeWindowTest : public RealPlayerWindowTest {
protected:
    RealTimeWindowTest() : RealPlayerWindowTest("fakesink sync=true") {}
};

} // namespace

TEST_F(RealPlayerWindowTest, NothingPlayableNeitherSpinsNorOutlivesStop) {
    // Stop and pause with nothing open say nothing.
    window.cmdStop->click();
    window.cmdPause->click();
    EXPECT_TRUE(messages.calls.empty());

    // A playlist of files that are not there, as tables carried over from another machine.
    QStringList missing;
    for (int i = 0; i < 100; ++i)
        missing << QStringLiteral("C:\\Musica\\%1.mp3").arg(i);
    showPlaylist(missing);
    ASSERT_TRUE(window.chkContinuado->isChecked());
    window.Timer1->stop(); // no tick: nothing may start a second round
    window.cmdPlay->click();
    runUntil([&] { return player.Opens() >= 100; });
    QTimer settle;
    settle.setSingleShot(true);
    settle.start(300);
    runUntil([&] { return !settle.isActive(); });
    EXPECT_EQ(player.Opens(), 100u) << "one round, then it waits";
    window.Timer1_Timer();
    window.walk().userChanged(); // as a tick does
    runUntil([&] { return player.Opens() >= 200; });
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Melofon")) << "nothing was shown for a file that did not start";

    window.cmdStop->click();
    EXPECT_TRUE(window.Detenido);
    EXPECT_FALSE(window.walk().running());
    const quint64 opens = player.Opens();
    window.walk().userChanged();
    QCoreApplication::processEvents();
    EXPECT_EQ(player.Opens(), opens);
    EXPECT_TRUE(messages.calls.empty());
}

TEST_F(RealTimeWindowTest, ShuffledRoundsPlayEachCheckedEntryOnce) {
    // The engine takes the next file as soon as it has read the playing one, long before the
    // joint: what it took must still be the round's next entry.
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        dir.write(QStringLiteral("r%1.wav").arg(i + 1), melofon::test::wav(melofon::test::pcm(0.15, i + 1)));
        paths << dir.file(QStringLiteral("r%1.wav").arg(i + 1));
    }
    showPlaylist(paths);
    window.chkAleatorio->setChecked(true);
    for (int run = 0; run < 3; ++run) {
        QStringList started;
        auto c = QObject::connect(&window.playback(), &melofon::playback::PlaybackController::fileStarted,
                                  [&](const QString& path, bool) { started << path; });
        window.cmdPlay->click();
        runUntil([&] { return started.size() >= 9; }, 10000);
        window.cmdStop->click();
        QObject::disconnect(c);
        for (int round = 0; round + 4 <= started.size(); round += 4) {
            QStringList got = started.mid(round, 4);
            got.sort();
            EXPECT_EQ(got, paths) << "run " << run << ": " << started.join(u' ').toStdString();
        }
    }
}
