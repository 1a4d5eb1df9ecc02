#include "playback/sequencer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

using melofon::playback::NumeroAlAzar;
using melofon::playback::runPlaylistWalk;
using melofon::playback::WalkControls;

namespace {

// A list box as the walk sees it, with a click handler like the window's playlist box.
class FakeListBox : public melofon::store::ListBox {
public:
    void Clear() override {
        rows.clear();
        current = -1;
        ++generation;
    }
    void AddItem(const QString& text) override { rows.push_back({text, false}); }
    void AddItems(const QStringList& texts, bool selected) override {
        for (const QString& t : texts)
            rows.push_back({t, selected});
    }
    int ListCount() const override { return int(rows.size()); }
    int ListIndex() const override { return current; }
    bool setListIndex(int index) override {
        if (index < -1 || index >= ListCount())
            return false;
        const bool changed = index != current;
        current = index;
        if (changed && index >= 0 && onClick)
            onClick();
        return true;
    }
    QString List(int index) const override { return rows.at(std::size_t(index)).first; }
    bool Selected(int index) const override { return rows.at(std::size_t(index)).second; }
    void setSelected(int index, bool selected) override { rows.at(std::size_t(index)).second = selected; }
    int SelCount() const override { return current >= 0 ? 1 : 0; }
    quint64 Generation() const override { return generation; }

    std::vector<std::pair<QString, bool>> rows;
    int current = -1;
    quint64 generation = 0;
    std::function<void()> onClick;
};

// A player whose files end when the walk waits for them: each blocking yield while a
// file plays is that file's end.
struct Harness {
    FakeListBox files, lists;
    std::map<QString, QStringList> playlists; // playlist name -> its entries
    bool todas = false, aleatorio = false, continuado = false, detenido = false;
    int state = 0;
    QString playing;
    std::vector<QString> started;
    std::set<QString> broken;         // files the player refuses
    int idleYields = 0, waits = 0;
    std::function<void(Harness&)> onYield; // the user's actions, seen at each yield
    bool startedWhileBusy = false;

    Harness() {
        lists.onClick = [this] {
            files.Clear();
            const QString name = lists.List(lists.ListIndex());
            files.AddItems(playlists[name], true);
        };
    }

    void playlist(const QString& name, const QStringList& entries) {
        playlists[name] = entries;
        lists.rows.push_back({name, false});
    }
    void show(const QString& name) { lists.setListIndex(int(std::find_if(lists.rows.begin(), lists.rows.end(), [&](auto& r) { return r.first == name; }) - lists.rows.begin())); }
    void uncheck(const QString& entry) {
        for (auto& r : files.rows)
            if (r.first == entry)
                r.second = false;
    }

    WalkControls controls() {
        return WalkControls{
            files,
            lists,
            [this] { return todas; },
            [this] { return aleatorio; },
            [this] { return continuado; },
            detenido,
            [this] { return state; },
            [this] {
                startedWhileBusy = startedWhileBusy || (state != 0 && state != 6);
                const QString path = files.ListIndex() >= 0 ? files.List(files.ListIndex()) : QString();
                if (broken.count(path))
                    return false;
                started.push_back(path);
                playing = path;
                state = 2;
                return true;
            },
            [this](bool wait) {
                if (wait) {
                    ++waits;
                    if (state == 2)
                        state = 0; // the file has ended
                } else {
                    ++idleYields;
                }
                if (onYield)
                    onYield(*this);
                ASSERT_LT(waits + idleYields, 10000) << "the walk does not end";
            }};
    }

    void play() {
        auto c = controls();
        runPlaylistWalk(c);
    }
    void stopAfter(std::size_t starts) {
        onYield = [starts](Harness& h) {
            if (h.started.size() >= starts) {
                h.state = 0;
                h.detenido = true;
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
    } cases[] = {
        {"in order, then the walk ends", false, "", 0, "A B C"},
        {"continuous wraps until Stop", true, "", 7, "A B C A B C A"},
        {"an unchecked entry is skipped", false, "B", 0, "A C"},
        {"an unchecked last entry", false, "C", 0, "A B"},
        {"an unchecked first entry", true, "A", 4, "B C B C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.playlist(QStringLiteral("P1"), L("A B C"));
        h.show(QStringLiteral("P1"));
        for (const QString& u : L(c.unchecked))
            h.uncheck(u);
        h.continuado = c.continuado;
        if (c.stopAfter)
            h.stopAfter(c.stopAfter);
        h.play();
        EXPECT_EQ(names(h.started), L(c.expected));
        EXPECT_FALSE(h.startedWhileBusy);
        if (names(h.started).endsWith(QStringLiteral("C")) && !c.stopAfter) {
            EXPECT_EQ(h.state, 2) << "the last file plays on after the walk";
        }
    }
}

TEST(PlaylistWalk, SkippedEntryCostsNoWait) {
    Harness h;
    h.playlist(QStringLiteral("P1"), L("A B C"));
    h.show(QStringLiteral("P1"));
    h.uncheck(QStringLiteral("B"));
    h.play();
    EXPECT_EQ(h.waits, 1) << "only A's end is waited for";
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
    h.onYield = [](Harness& x) {
        if (x.started.size() == 1 && x.lists.ListIndex() == 0)
            x.show(QStringLiteral("P2"));
    };
    h.play();
    ASSERT_EQ(h.started.size(), 3u);
    QStringList rest = names({h.started.begin() + 1, h.started.end()});
    rest.sort();
    EXPECT_EQ(rest, L("D E"));
}

TEST(PlaylistWalk, StopPauseAndPlayDuringAWalk) {
    const QStringList abc = L("A B C");
    {
        SCOPED_TRACE("paused: the walk waits and starts nothing");
        Harness h;
        h.playlist(QStringLiteral("P1"), abc);
        h.show(QStringLiteral("P1"));
        int pausedWaits = 0;
        h.onYield = [&](Harness& x) {
            if (x.started.size() == 1 && pausedWaits == 0 && x.state == 2)
                x.state = 1; // paused
            if (x.state == 1 && ++pausedWaits == 5)
                x.state = 2; // resumed
        };
        h.play();
        EXPECT_EQ(names(h.started), abc);
        EXPECT_GE(pausedWaits, 5);
    }
    {
        SCOPED_TRACE("Play inside a walk runs a second walk, then the first goes on");
        Harness h;
        h.playlist(QStringLiteral("P1"), abc);
        h.show(QStringLiteral("P1"));
        bool nested = false;
        h.onYield = [&](Harness& x) {
            if (!nested && x.started.size() == 1) {
                nested = true;
                x.play();
            }
        };
        h.play();
        EXPECT_EQ(names(h.started), L("A A B C C"));
    }
    {
        SCOPED_TRACE("another playlist chosen: the walk goes on through its entries");
        Harness h;
        h.playlist(QStringLiteral("P1"), abc);
        h.playlist(QStringLiteral("P2"), L("D E"));
        h.show(QStringLiteral("P1"));
        h.onYield = [](Harness& x) {
            if (x.started.size() == 1 && x.lists.ListIndex() == 0)
                x.show(QStringLiteral("P2"));
        };
        h.play();
        EXPECT_EQ(names(h.started), L("A D E"));
    }
}

TEST(PlaylistWalk, NothingPlayableNeverSpins) {
    {
        SCOPED_TRACE("empty file box");
        Harness h;
        h.play();
        EXPECT_TRUE(h.started.empty());
        Harness c;
        c.continuado = true;
        c.onYield = [](Harness& x) { x.detenido = x.waits >= 3; };
        c.play();
        EXPECT_TRUE(c.started.empty());
        EXPECT_LE(c.idleYields, 3 * 2) << "waits for events between rounds";
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
        h.onYield = [](Harness& x) { x.detenido = x.waits >= 3; };
        h.play();
        EXPECT_TRUE(h.started.empty());
        EXPECT_LE(h.idleYields, 3 * 5);
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
    EXPECT_EQ(NumeroAlAzar(1), 1);
    EXPECT_EQ(NumeroAlAzar(0), 1);
    EXPECT_EQ(NumeroAlAzar(-5), 1);
    std::set<int> seen;
    for (int i = 0; i < 300; ++i) {
        const int n = NumeroAlAzar(3);
        ASSERT_GE(n, 1);
        ASSERT_LE(n, 3);
        seen.insert(n);
    }
    EXPECT_EQ(seen.size(), 3u);
}
