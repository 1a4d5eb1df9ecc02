#include "playback/playback_controller.h"
#include "support/fake_list_box.h"
#include "support/fake_player.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <functional>
#include <map>

using melofon::playback::MediaPlayer;
using melofon::playback::PlaybackController;
using melofon::test::FakeListBox;
using melofon::test::FakePlayer;

namespace {

QStringList L(const char* spaced) { return QString::fromLatin1(spaced).split(QLatin1Char(' '), Qt::SkipEmptyParts); }

// The controller on list boxes and a player that takes the next file the moment a file
// starts, as the engine does with a short local file. Each file plays 60 s; the clock
// jumps to its end once the event loop has nothing left to do.
struct Races {
    FakeListBox files, lists;
    FakePlayer player;
    bool todas = false, aleatorio = false, continuado = false, detenido = false;
    PlaybackController controller{player,
                                  {files, lists, [this] { return todas; }, [this] { return aleatorio; },
                                   [this] { return continuado; }, detenido}};
    std::function<void(Races&)> whenStarted; // the user's doing, each time a file starts

    explicit Races(const QStringList& entries) {
        QStringList rows;
        for (const QString& e : entries)
            rows << QStringLiteral("%1 - %2").arg(e.at(0).unicode()).arg(e);
        lists.rows = {{QStringLiteral("1 - P"), false}};
        lists.onClick = [this, rows] {
            files.Clear();
            files.AddItems(rows, true);
        };
        lists.setListIndex(0);
        QObject::connect(player.notifier(), &melofon::playback::PlayerNotifier::started, &context, [this] {
            if (whenStarted)
                whenStarted(*this); // after the controller has heard of it
        });
    }
    void uncheck(const QString& entry) {
        for (int i = 0; i < files.ListCount(); ++i)
            if (files.List(i).endsWith(QStringLiteral(" - ") + entry))
                files.setSelected(i, false);
        controller.userChanged();
    }
    // Plays until the walk ends or `starts` files have started.
    void run(int starts = 100) {
        controller.play();
        for (int i = 0; i < 2000 && player.started.size() < starts; ++i) {
            QCoreApplication::processEvents();
            if (player.state == MediaPlayer::Playing)
                player.advance(player.duration);
            else if (player.state == MediaPlayer::Opening && player.hung.count(player.file))
                player.giveUp();
            else if (MediaPlayer::idle(player.state) && !controller.walkRunning())
                return;
            else if (MediaPlayer::idle(player.state))
                controller.userChanged(); // a tick
        }
        controller.stop();
    }
    QObject context;
};

} // namespace

// What plays when the walk and the engine could disagree: the engine has already taken the
// file that was to follow when the user changes what follows.
TEST(PlaybackController, TheRuleAtTheEndOfAFileDecidesWhatFollowsNotTheFileTakenEarly) {
    const struct {
        const char* name;
        const char* broken; // taken, then cannot be played
        const char* hung;   // never answers
        std::function<void(Races&)> whenFirstStarts;
        const char* expected;
    } cases[] = {
        {"nothing changes: every joint without a gap", "", "", nullptr, "A B C"},
        {"Play during the walk restarts it from the first entry", "", "", [](Races& r) { r.controller.play(); },
         "A A B C"},
        {"an entry unchecked after it was taken is not played", "", "", [](Races& r) { r.uncheck(QStringLiteral("B")); },
         "A C"},
        {"a next file that cannot be played is passed over", "B", "", nullptr, "A C"},
        {"a next file that never answers is given up", "", "B", nullptr, "A C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Races r(L("A B C"));
        for (const QString& f : L(c.broken))
            r.player.broken.insert(f);
        for (const QString& f : L(c.hung))
            r.player.hung.insert(f);
        bool done = false;
        r.whenStarted = [&](Races& x) {
            if (c.whenFirstStarts && !std::exchange(done, true))
                c.whenFirstStarts(x);
        };
        r.run();
        EXPECT_EQ(r.player.started, L(c.expected));
        if (!c.whenFirstStarts && !*c.broken && !*c.hung) {
            EXPECT_EQ(r.player.handovers, 2);
        }
    }
}

TEST(PlaybackController, EachShuffledRoundPlaysEachCheckedEntryOnceThoughTheEngineTakesAhead) {
    melofon::playback::seedNumeroAlAzar(11);
    Races r(L("A B C D"));
    r.aleatorio = r.continuado = true;
    r.run(5 * 4);
    ASSERT_EQ(r.player.started.size(), 20);
    for (int round = 0; round < 5; ++round) {
        QStringList heard = r.player.started.mid(round * 4, 4);
        heard.sort();
        EXPECT_EQ(heard, L("A B C D")) << "round " << round << ": " << r.player.started.mid(round * 4, 4).join(u' ').toStdString();
    }
    EXPECT_GE(r.player.handovers, 5 * 3) << "within a round the next file follows without a gap";
}

TEST(PlaybackController, PreviousGoesBackToTheEntryBeforeThePlayingOne) {
    const struct {
        const char* name;
        const char* unchecked;
        const char* at; // Previous when this one starts for the first time
        const char* expected;
    } cases[] = {
        {"the entry before in list order", "", "B", "A B A B C"},
        {"the first entry starts again", "", "A", "A A B C"},
        {"unchecked entries are passed over", "B", "C", "A C A C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Races r(L("A B C"));
        for (const QString& u : L(c.unchecked))
            r.uncheck(u);
        bool done = false;
        r.whenStarted = [&](Races& x) {
            if (x.player.file == QLatin1String(c.at) && !std::exchange(done, true))
                x.controller.previous();
        };
        r.run();
        EXPECT_EQ(r.player.started, L(c.expected));
    }
    // In a random round: the one before the playing one in the round, then on from there.
    melofon::playback::seedNumeroAlAzar(5);
    Races r(L("A B C D"));
    r.aleatorio = true;
    bool done = false;
    r.whenStarted = [&](Races& x) {
        if (x.player.started.size() == 2 && !std::exchange(done, true))
            x.controller.previous();
    };
    r.run();
    ASSERT_EQ(r.player.started.size(), 6);
    EXPECT_EQ(r.player.started.mid(2, 2), r.player.started.mid(0, 2));
    QStringList round = r.player.started.mid(2);
    round.sort();
    EXPECT_EQ(round, L("A B C D"));
}

// A pause asked for while the walk's file opens is the user's: when that file is given up
// or cannot be opened, the walk waits paused, and Pause again goes on with the next entry.
TEST(PlaybackController, APauseWhileAFileOpensHoldsWhenTheFileFails) {
    for (const bool hung : {true, false}) {
        SCOPED_TRACE(hung ? "given up" : "cannot be opened");
        Races r(L("A B"));
        (hung ? r.player.hung : r.player.broken).insert(QStringLiteral("A"));
        r.controller.play();
        ASSERT_EQ(r.player.state, MediaPlayer::Opening);
        r.controller.pause();
        const auto loop = [&] {
            for (int i = 0; i < 20; ++i) {
                QCoreApplication::processEvents();
                r.controller.userChanged(); // a tick
            }
        };
        loop();
        r.player.giveUp();
        loop();
        EXPECT_TRUE(r.player.started.isEmpty()) << "the walk went on";
        EXPECT_EQ(r.controller.state(), MediaPlayer::Paused);
        r.controller.pause();
        loop();
        EXPECT_EQ(r.player.started, L("B"));
        EXPECT_EQ(r.controller.state(), MediaPlayer::Playing);
    }
}
