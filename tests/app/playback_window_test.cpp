#include "app/frm_principal.h"
#include "support/fake_player.h"
#include "support/scripted_dialogs.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using melofon::app::frmPrincipal;
using melofon::playback::MediaPlayer;
using melofon::test::FakePlayer;

namespace {

class PlaybackWindowTest : public ::testing::Test {
protected:
    PlaybackWindowTest() {
        window.start();
    }
    QString elapsed() const { return w().lblMinTranscurridos->text() + QLatin1Char(':') + w().lblSegTranscurridos->text(); }
    QString duration() const { return w().lblMinDuracion->text() + QLatin1Char(':') + w().lblSegDuracion->text(); }
    const frmPrincipal& w() const { return window; }
    // Playlist 1 with /musica/1.mp3, 2.mp3 and 3.mp3, selected in the window.
    void showPlaylistOfThree() {
        melofon::test::addPlaylist(store, 1, QStringLiteral("a"));
        for (int i = 1; i <= 3; ++i)
            melofon::test::addFile(store, 1, i, QStringLiteral("/musica/%1.mp3").arg(i));
        for (auto* source : {&store.dtcListas(), &store.dtcDocumentos(), &store.dtcLisDoc()})
            source->Refresh();
        window.LlenarListas();
        ASSERT_TRUE(window.lstListas->setListIndex(0));
    }
    void startFile(const QString& path, double seconds) {
        player.durations[path] = seconds;
        window.ComenzarArchivo(path);
    }

    melofon::test::TempDir dir;
    melofon::store::PlaylistStore store{dir.path()};
    melofon::test::ScriptedDialogs scripted;
    melofon::test::ScriptedMessageBoxes& messages = scripted.messages;
    FakePlayer player;
    frmPrincipal window{store, player, scripted.dialogs(), dir.path(), [] {}};
};

} // namespace

TEST_F(PlaybackWindowTest, StartingAFileShowsItsNameDurationAndResetsTheDisplay) {
    const struct {
        const char* path;
        double seconds;
        const char* caption;
        const char* duration;
        int segundosPorPaso;
    } cases[] = {
        {"C:\\Musica\\tema.mp3", 185.4, "Melofon - tema.mp3", "03:05", 2},
        {"C:\\Musica\\Rock\\tema.mp3", 119.6, "Melofon - Rock\\tema.mp3", "02:00", 1},
        {"/home/ana/Música/a-b.wav", 250, "Melofon - ana/Música/a-b.wav", "04:10", 2},
        {"/musica/x.mid", 350, "Melofon - x.mid", "05:50", 4},
        {"ab", 0.4, "Melofon - ab", "00:00", 0},
        {"/a/tres horas.mp3", 3 * 3600 + 1, "Melofon - /a/tres horas.mp3", "180:01", 108},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        window.lblSegTranscurridos->setText(QStringLiteral("42"));
        window.hsTiempo->setValue(77);
        player.volume = -1200;
        startFile(QString::fromUtf8(c.path), c.seconds);
        EXPECT_EQ(window.windowTitle(), QString::fromUtf8(c.caption));
        EXPECT_EQ(duration(), QString::fromLatin1(c.duration));
        EXPECT_EQ(window.SegundosPorPaso, c.segundosPorPaso);
        EXPECT_EQ(elapsed(), QStringLiteral("00:00"));
        EXPECT_EQ(window.hsTiempo->value(), 0);
        EXPECT_EQ(window.hsVolumen->value(), -1200);
        EXPECT_EQ(player.state, MediaPlayer::Playing);
    }
    // A file the player refuses is passed over without a message.
    player.broken.insert(QStringLiteral("/no/está.mp3"));
    EXPECT_FALSE(window.ComenzarArchivo(QStringLiteral("/no/está.mp3")));
    EXPECT_TRUE(messages.calls.empty());
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
}

TEST_F(PlaybackWindowTest, VolumeBarSetsThePlayer) {
    window.hsVolumen->setValue(-2500);
    EXPECT_EQ(player.volume, -2500);
    window.hsVolumen->setValue(-10000);
    EXPECT_EQ(player.volume, -10000);
}

TEST_F(PlaybackWindowTest, PlayWalksTheFileBoxThroughTheEventLoopAndStopEndsIt) {
    showPlaylistOfThree();

    // Files end as time goes by; the walk wakes up for each end.
    QTimer clock;
    clock.setInterval(1);
    int ticks = 0;
    QObject::connect(&clock, &QTimer::timeout, [&] {
        player.advance(30);
        if (++ticks > 5000)
            window.cmdStop->click(); // never hang the suite
    });
    clock.start();
    window.chkContinuado->setChecked(false);
    window.cmdPlay->click();
    EXPECT_EQ(player.started, (QStringList{QStringLiteral("/musica/1.mp3"), QStringLiteral("/musica/2.mp3"),
                                           QStringLiteral("/musica/3.mp3")}));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Melofon - 3.mp3"));

    player.started.clear();
    window.chkContinuado->setChecked(true);
    QObject::connect(&clock, &QTimer::timeout, [&] {
        if (player.started.size() == 5)
            window.cmdStop->click();
    });
    window.cmdPlay->click();
    EXPECT_EQ(player.started.size(), 5);
    EXPECT_TRUE(window.Detenido);
    EXPECT_EQ(player.state, MediaPlayer::Stopped);
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

    player.durations[window.txtArchivo->text()] = 185.4;
    window.cmdPlayArchivo->click();
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

    // The file ends on its own: the next tick disables the buttons.
    window.cmdPlayArchivo->click();
    player.advance(200);
    window.Timer1_Timer();
    EXPECT_FALSE(window.cmdStopArchivo->isEnabled());

    // A walk's file takes the player from the strip.
    window.cmdPlayArchivo->click();
    window.ComenzarArchivo(QStringLiteral("/musica/otro.mp3"));
    EXPECT_FALSE(window.cmdPauseArchivo->isEnabled());

    // A file the player refuses: a message naming it, nothing else changes.
    player.broken.insert(QStringLiteral("/no/existe.wav"));
    window.txtArchivo->setText(QStringLiteral("/no/existe.wav"));
    const QString caption = window.windowTitle();
    window.cmdPlayArchivo->click();
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
    int ticks = 0;
    QObject::connect(&clock, &QTimer::timeout, [&] {
        if (player.started.size() == 1 && player.position > 10)
            window.cmdPlayArchivo->click(); // while the walk's first file plays
        player.advance(15);
        if (++ticks > 5000)
            window.cmdStop->click();
    });
    clock.start();
    window.cmdPlay->click();
    EXPECT_EQ(player.started, (QStringList{QStringLiteral("/musica/1.mp3"), QStringLiteral("/otra/suelta.wav"),
                                           QStringLiteral("/musica/2.mp3"), QStringLiteral("/musica/3.mp3")}));
}
