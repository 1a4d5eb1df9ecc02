// Kills a program giving the editing commands (kill_child.cpp) at random instants. After
// each kill the tables open exactly as they were before the command it was inside, or
// exactly as they were after it: the test gives the same commands again, from the same
// tables, to know both.

#include "kill_steps.h"

#include "store/dbf_table.h"
#include "support/kill_child.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>


#include <chrono>
#include <cstdio>
#include <map>


namespace melofon::editing {
namespace {

using store::DbfTable;
using store::PlaylistStore;
using test::TempDir;

constexpr int kKills = 100;
constexpr int kKillsPerDirectory = 4; // the tables grow by a playlist a run

using Rows = std::map<QString, QStringList>;

Rows liveRows(const QString& dir) {
    Rows rows;
    for (const QString& name : {QStringLiteral("Listas"), QStringLiteral("DOCUMENT"), QStringLiteral("LISDOC")}) {
        const QString path = store::findTableFile(dir, name);
        if (path.isEmpty())
            continue;
        auto t = DbfTable::open(path, DbfTable::Mode::ReadOnly);
        for (std::uint32_t r = 0; r < t->rowCount(); ++r)
            if (!t->isDeleted(r))
                rows[name] << t->text(r, 0) + QLatin1Char(' ') + t->text(r, 1);
    }
    return rows;
}

class NoSyncIo : public store::TableIo {
public:
    bool sync(int) override { return true; }
    bool syncDirectory(int) override { return true; }
};

TEST(CommandKillTest, ACommandKilledAtAnyInstantIsThereWholeOrNotAtAll) {
    // A whole round of the five steps, with their syncs, takes some tens of milliseconds
    // after the start. A kill in four lands in the start, which may be completing a
    // command the kill before interrupted.
    test::KillClock clock("command kill test", 2000, 150000);

    TempDir root;
    QString dir;
    int startUp = 0, between = 0, inside = 0, rolledBack = 0, whole = 0;
    int insideStep[test::kKillSteps] = {};
    for (int i = 0; i < kKills; ++i) {
        SCOPED_TRACE(QStringLiteral("kill %1 (seed %2)").arg(i).arg(clock.seed()).toStdString());
        if (i % kKillsPerDirectory == 0) {
            dir = root.file(QStringLiteral("run%1").arg(i));
            ASSERT_TRUE(QDir().mkpath(dir));
        }
        std::map<QString, QByteArray> start;
        for (const QString& f : QDir(dir).entryList(QDir::Files)) {
            QFile file(QDir(dir).filePath(f));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            start[f] = file.readAll();
        }

        QString why;
        const auto killed = clock.runAndKill(MELOFON_EDITING_KILL_CHILD, dir, &why);
        ASSERT_TRUE(killed) << why.toStdString();
        const QByteArray& said = killed->said;
        int begun = -1, ended = -1;
        for (const QByteArray& line : said.split('\n')) {
            if (line.startsWith("b "))
                begun = line.mid(2).toInt();
            else if (line.startsWith("e "))
                ended = line.mid(2).toInt();
        }
        // Opening completes or takes back what the kill interrupted.
        try {
            PlaylistStore opened(dir);
        } catch (const store::StoreError& e) {
            FAIL() << "the tables left by the kill do not open: " << e.what();
        }
        const Rows now = liveRows(dir);

        // The same steps from the same tables, up to the one the kill came in and past it.
        TempDir again;
        for (const auto& [name, bytes] : start)
            again.write(name, bytes);
        Rows before = liveRows(again.path()), after;
        {
            NoSyncIo noSync;
            store::TableIo::install(&noSync);
            {
                PlaylistStore s(again.path());
                test::KillEditing editing(s);
                for (int step = 0; step <= begun; ++step) {
                    if (step == begun)
                        before = liveRows(again.path());
                    editing.run(step);
                }
            }
            store::TableIo::install(nullptr);
            after = liveRows(again.path());
        }
        if (begun < 0) {
            ++startUp;
            EXPECT_TRUE(now == before || (before.empty() && now == Rows{})) << "changed before any command";
        } else if (ended == begun) {
            ++between;
            EXPECT_TRUE(now == after) << "step " << begun << " returned but is not there whole";
        } else {
            ++inside;
            ++insideStep[begun % test::kKillSteps];
            rolledBack += now == before;
            whole += now == after && now != before;
            EXPECT_TRUE(now == before || now == after)
                << test::kKillStepNames[begun % test::kKillSteps] << " (step " << begun << ") is left in part";
        }
        if (::testing::Test::HasFailure())
            return;
    }
    QString perStep;
    for (int s = 0; s < test::kKillSteps; ++s)
        perStep += QStringLiteral("%1%2 %3").arg(s ? QStringLiteral(", ") : QString(),
                                                 QString::fromLatin1(test::kKillStepNames[s]))
                       .arg(insideStep[s]);
    std::printf("%d kills: %d before the first command, %d between commands, %d inside a command (%s): %d taken "
                "back, %d there whole, none left in part\n",
                kKills, startUp, between, inside, qPrintable(perStep), rolledBack, whole);
    EXPECT_GT(inside, kKills / 4) << "too few kills landed inside a command";
}

} // namespace
} // namespace melofon::editing
