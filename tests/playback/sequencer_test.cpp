#include "playback/sequencer.h"
#include "support/fake_list_box.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <map>
#include <set>

using melofon::playback::NumeroAlAzar;
using melofon::playback::PlaylistWalk;
using melofon::playback::WalkControls;

using melofon::test::FakeListBox;

namespace {

// A player and a clock as the walk sees them. Each request to start a file is answered
// through the walk's event methods, one event at a time; when nothing is left to tell, the
// playing file ends (handing over the queued next one, as the engine does), or, with the
// player idle, Timer1 ticks.
// A file box row as the window shows it: an id, " - ", the path (here a letter).
QString row(const QString& path) { return QString::number(path.at(0).unicode()) + QStringLiteral(" - ") + path; }
QStringList rows(const QStringList& paths) {
    QStringList r;
    for (const QString& p : paths)
        r << row(p);
    return r;
}

struct Harness {
    FakeListBox files, lists;
    std::map<QString, QStringList> playlists; // playlist name -> its entries
    bool todas = false, aleatorio = false, continuado = false, detenido = false;
    int state = 0;
    std::vector<QString> started;
    std::set<QString> broken;         // files the player refuses
    bool gapless = true;              // the player takes the queued next file at an end
    melofon::playback::QueuedFiles queued;
    quint64 opens = 0;
    int requests = 0, ends = 0, ticks = 0, handovers = 0;
    bool startedWhileBusy = false;
    std::deque<std::function<void()>> news;
    std::function<void(Harness&)> onStart; // the user's actions, when a file starts
    std::function<void(Harness&)> onTick;  // and at each tick
    std::unique_ptr<PlaylistWalk> walk;

    Harness() {
        lists.onClick = [this] {
            files.Clear();
            const QString name = lists.List(lists.ListIndex());
            files.AddItems(rows(playlists[name]), true);
        };
        walk = std::make_unique<PlaylistWalk>(WalkControls{
            files, lists, [this] { return todas; }, [this] { return aleatorio; },
            [this] { return continuado; }, detenido, [this] { return state; },
            [this](const QString& path) {
                startedWhileBusy = startedWhileBusy || (state != 0 && state != 6);
                ++requests;
                const quint64 open = ++opens;
                queued.clear();
                state = 3;
                news.push_back([this, open, path] {
                    if (open != opens)
                        return;
                    if (broken.count(path)) {
                        state = 6;
                        walk->failed(open);
                        walk->playerChanged();
                        return;
                    }
                    state = 2;
                    started.push_back(path);
                    walk->started(open, 0);
                    if (onStart)
                        onStart(*this);
                });
                return open;
            },
            [this](const melofon::playback::QueuedFiles& files) { queued = files; }});
    }

    void run() {
        for (int i = 0; i < 10000; ++i) {
            if (!news.empty()) {
                auto event = std::move(news.front());
                news.pop_front();
                event();
            } else if (state == 2) {
                ++ends;
                if (gapless && !queued.empty() && !broken.count(queued.front().path)) {
                    ++handovers;
                    const melofon::playback::QueuedFile next = queued.front();
                    ++opens;
                    started.push_back(next.path);
                    walk->started(opens, next.cue);
                    if (onStart)
                        onStart(*this);
                } else {
                    state = 0;
                    walk->playerChanged();
                }
            } else if (!walk->running()) {
                return;
            } else {
                ++ticks;
                if (onTick)
                    onTick(*this);
                walk->userChanged();
            }
        }
        ADD_FAILURE() << "the walk does not end";
    }

    void playlist(const QString& name, const QStringList& entries) {
        playlists[name] = entries;
        lists.rows.push_back({name, false});
    }
    void show(const QString& name) { lists.setListIndex(int(std::find_if(lists.rows.begin(), lists.rows.end(), [&](auto& r) { return r.first == name; }) - lists.rows.begin())); }
    void uncheck(const QString& entry) {
        for (auto& r : files.rows)
            if (r.first == row(entry))
                r.second = false;
    }

    void play() {
        walk->play();
        run();
    }
    // The user presses Stop once `starts` files have started.
    void stopAfter(std::size_t starts) {
        onStart = [starts](Harness& h) {
            if (h.started.size() >= starts) {
                h.state = 0;
                h.walk->stop();
            }
        };
    }
};

QStringList names(const std::vector<QString>& v) { return QStringList(v.begin(), v.end()); }

// "A B C" -> {"A", "B", "C"}
QStringList L(const char* spaced) { return QString::fromLatin1(spaced).split(QLatin1Char(' '), Qt::SkipEmptyParts); }

} // namespace

TEST(PlaylistWalk, SinglePlaylistPlaysCheckedEntriesInOrderEachAfterThePreviousEnded) {
    const struct {
        const char* name;
        bool continuado;
        const char* unchecked;
        std::size_t stopAfter; // 0: let it end
        const char* expected;
        int handovers;         // of the files started, those that followed without a gap
    } cases[] = {
        {"in order, then the walk ends", false, "", 0, "A B C", 2},
        {"continuous wraps until Stop", true, "", 7, "A B C A B C A", 6},
        {"an unchecked entry is skipped", false, "B", 0, "A C", 1},
        {"an unchecked last entry", false, "C", 0, "A B", 1},
        {"an unchecked first entry", true, "A", 4, "B C B C", 3},
    };
    for (const bool gapless : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (gapless ? "" : ", the player takes no next file"));
            Harness h;
            h.gapless = gapless;
            h.playlist(QStringLiteral("P1"), L("A B C"));
            h.show(QStringLiteral("P1"));
            for (const QString& u : L(c.unchecked))
                h.uncheck(u);
            h.continuado = c.continuado;
            if (c.stopAfter)
                h.stopAfter(c.stopAfter);
            h.play();
            EXPECT_EQ(names(h.started), L(c.expected));
            EXPECT_EQ(h.handovers, gapless ? c.handovers : 0);
            EXPECT_FALSE(h.startedWhileBusy);
            if (!c.stopAfter) {
                EXPECT_TRUE(h.queued.empty()) << "nothing is left to follow the last file";
            }
        }
    }
}

TEST(PlaylistWalk, SkippedEntryCostsNoWait) {
    Harness h;
    h.gapless = false;
    h.playlist(QStringLiteral("P1"), L("A B C"));
    h.show(QStringLiteral("P1"));
    h.uncheck(QStringLiteral("B"));
    int endsBeforeC = -1;
    h.onStart = [&](Harness& x) {
        if (x.started.back() == QStringLiteral("C"))
            endsBeforeC = x.ends;
    };
    h.play();
    EXPECT_EQ(endsBeforeC, 1) << "only A's end is waited for";
}

TEST(PlaylistWalk, AllPlaylistsPlayEveryCheckedEntryFromTheCurrentPlaylistOn) {
    const struct {
        const char* name;
        const char* first;
        bool continuado;
        std::size_t stopAfter;
        const char* expected;
        const char* lastShown;
    } cases[] = {
        {"from P1 to the end", "P1", false, 0, "A B C D E F", "P3"},
        {"from P3", "P3", false, 0, "E F", "P3"},
        {"continuous wraps to P1", "P2", true, 6, "D E F A B C", "P1"},
        {"Stop ends where it stands", "P1", false, 2, "A B", "P1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.playlist(QStringLiteral("P1"), L("A B C"));
        h.playlist(QStringLiteral("P2"), L("D"));
        h.playlist(QStringLiteral("P3"), L("E F"));
        h.show(QString::fromLatin1(c.first));
        h.todas = true;
        h.continuado = c.continuado;
        if (c.stopAfter)
            h.stopAfter(c.stopAfter);
        h.play();
        EXPECT_EQ(names(h.started), L(c.expected));
        EXPECT_EQ(h.lists.List(h.lists.ListIndex()), QString::fromLatin1(c.lastShown));
        EXPECT_FALSE(h.startedWhileBusy);
    }
}

TEST(PlaylistWalk, RandomOrderPlaysEachCheckedEntryOncePerRoundInFreshOrders) {
    melofon::playback::seedNumeroAlAzar(7);
    const QStringList entries = L("A B C D E F");
    Harness h;
    h.playlist(QStringLiteral("P1"), entries);
    h.show(QStringLiteral("P1"));
    h.uncheck(QStringLiteral("C"));
    h.aleatorio = true;
    h.continuado = true;
    h.stopAfter(5 * 20);
    h.play();
    ASSERT_EQ(h.started.size(), 100u);
    std::set<QStringList> orders;
    for (std::size_t r = 0; r < 20; ++r) {
        QStringList round = names({h.started.begin() + long(5 * r), h.started.begin() + long(5 * r + 5)});
        orders.insert(round);
        round.sort();
        EXPECT_EQ(round, L("A B D E F"));
    }
    EXPECT_GT(orders.size(), 10u) << "rounds are shuffled afresh";
    EXPECT_GE(h.handovers, 20 * 3) << "within a round the next file is known in advance";

    // Without "Continuado" the walk ends after one round; a lone checked entry plays.
    Harness once;
    once.playlist(QStringLiteral("P1"), L("A B C"));
    once.show(QStringLiteral("P1"));
    once.uncheck(QStringLiteral("B"));
    once.uncheck(QStringLiteral("C"));
    once.aleatorio = true;
    once.play();
    EXPECT_EQ(names(once.started), L("A"));
}

TEST(PlaylistWalk, RandomOrderStartsANewRoundWhenTheFileBoxIsRefilled) {
    melofon::playback::seedNumeroAlAzar(3);
    Harness h;
    h.playlist(QStringLiteral("P1"), L("A B C"));
    h.playlist(QStringLiteral("P2"), L("D E"));
    h.show(QStringLiteral("P1"));
    h.aleatorio = true;
    h.onStart = [](Harness& x) {
        if (x.started.size() == 1 && x.lists.ListIndex() == 0) {
            x.show(QStringLiteral("P2"));
            x.walk->userChanged();
        }
    };
    h.play();
    ASSERT_EQ(h.started.size(), 3u);
    QStringList rest = names({h.started.begin() + 1, h.started.end()});
    rest.sort();
    EXPECT_EQ(rest, L("D E"));
}

// What the user does while the walk's first file plays, and what the walk then plays.
TEST(PlaylistWalk, TheUsersActionsDuringAWalk) {
    const auto quitar = [](Harness& x, const QString& entry) {
        // "Quitar": the row is clicked, its entry removed, the file box filled again.
        QStringList& entries = x.playlists[QStringLiteral("P1")];
        x.files.setListIndex(int(entries.indexOf(entry)));
        entries.removeAll(entry);
        x.files.Clear();
        x.files.AddItems(rows(entries), true);
        x.walk->userChanged();
    };
    const struct {
        const char* name;
        std::function<void(Harness&)> action; // done once, when A starts
        const char* expected;
    } cases[] = {
        {"Play again restarts from the first entry, nothing twice", [](Harness& x) { x.walk->play(); },
         "A A B C"},
        {"another playlist chosen: the walk goes on through its entries",
         [](Harness& x) {
             x.show(QStringLiteral("P2"));
             x.walk->userChanged();
         },
         "A D E"},
        {"Quitar of a later entry: on after the one playing", [&](Harness& x) { quitar(x, QStringLiteral("C")); },
         "A B"},
        {"Quitar of the entry playing: on with the one after it", [&](Harness& x) { quitar(x, QStringLiteral("A")); },
         "A B C"},
        {"Eliminar of another playlist leaves none selected: on after the one playing",
         [](Harness& x) {
             x.lists.rows.erase(x.lists.rows.begin() + 1);
             x.lists.current = -1;
             x.files.Clear();
             x.walk->userChanged();
         },
         "A B C"},
        {"an unchecked next entry is passed over", [](Harness& x) { x.uncheck(QStringLiteral("B")); x.walk->userChanged(); },
         "A C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.playlist(QStringLiteral("P1"), L("A B C"));
        h.playlist(QStringLiteral("P2"), L("D E"));
        h.show(QStringLiteral("P1"));
        bool done = false;
        h.onStart = [&](Harness& x) {
            if (!std::exchange(done, true))
                c.action(x);
        };
        h.play();
        EXPECT_EQ(names(h.started), L(c.expected));
        EXPECT_FALSE(h.startedWhileBusy);
    }
}

TEST(PlaylistWalk, PausedTheWalkWaitsAndStartsNothing) {
    Harness h;
    h.playlist(QStringLiteral("P1"), L("A B C"));
    h.show(QStringLiteral("P1"));
    int pausedTicks = 0;
    h.onStart = [](Harness& x) {
        if (x.started.size() == 1)
            x.state = 1; // paused
    };
    h.onTick = [&](Harness& x) {
        if (x.state == 1 && ++pausedTicks == 5)
            x.state = 2; // resumed
    };
    h.play();
    EXPECT_EQ(names(h.started), L("A B C"));
    EXPECT_EQ(pausedTicks, 5);
}

TEST(PlaylistWalk, NothingPlayableNeverSpins) {
    {
        SCOPED_TRACE("empty file box");
        Harness h;
        h.play();
        EXPECT_TRUE(h.started.empty());
        Harness c;
        c.continuado = true;
        c.onTick = [](Harness& x) {
            if (x.ticks >= 3)
                x.walk->stop();
        };
        c.play();
        EXPECT_EQ(c.requests, 0);
    }
    {
        SCOPED_TRACE("every file refused by the player, all playlists, continuous");
        Harness h;
        h.playlist(QStringLiteral("P1"), L("A B"));
        h.playlist(QStringLiteral("P2"), L("C"));
        h.show(QStringLiteral("P1"));
        for (const QString& f : L("A B C"))
            h.broken.insert(f);
        h.todas = true;
        h.continuado = true;
        h.onTick = [](Harness& x) {
            if (x.ticks >= 3)
                x.walk->stop();
        };
        h.play();
        EXPECT_TRUE(h.started.empty());
        EXPECT_LE(h.requests, 3 * (h.ticks + 1)) << "one round per tick at most";
        EXPECT_TRUE(h.detenido);
    }
    {
        SCOPED_TRACE("a refused file is passed over");
        Harness h;
        h.playlist(QStringLiteral("P1"), L("A B"));
        h.show(QStringLiteral("P1"));
        h.broken = {QStringLiteral("A")};
        h.play();
        EXPECT_EQ(names(h.started), L("B"));
    }
}

TEST(NumeroAlAzarTest, DrawsFromOneToMaximo) {
    // The shuffle indexes with it less one, so a draw outside 1..maximo reads past the round.
    EXPECT_EQ(NumeroAlAzar(0), 1);
    EXPECT_EQ(NumeroAlAzar(-5), 1);
    for (int i = 0; i < 300; ++i) {
        const int n = NumeroAlAzar(3);
        ASSERT_TRUE(n >= 1 && n <= 3) << n;
    }
}
