#include "app/frm_principal.h"
#include "support/fake_player.h"
#include "support/scripted_dialogs.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

#include <QCheckBox>
#include <QLabel>
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
    melofon::test::addPlaylist(store, 1, QStringLiteral("a"));
    for (int i = 1; i <= 3; ++i)
        melofon::test::addFile(store, 1, i, QStringLiteral("/musica/%1.mp3").arg(i));
    for (auto* source : {&store.dtcListas(), &store.dtcDocumentos(), &store.dtcLisDoc()})
        source->Refresh();
    window.LlenarListas();
    ASSERT_TRUE(window.lstListas->setListIndex(0));

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
