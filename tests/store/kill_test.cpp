// Kills a writing Melofon (store_kill_child) at random instants and checks that every
// table it leaves behind opens with every committed row whole, both for us and for
// dbfread.

#include "kill_rows.h"

#include "store/dbf_table.h"
#include "support/kill_child.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>


#include <chrono>
#include <cstdio>
#include <map>
#include <vector>


namespace melofon::store {
namespace {

using test::TempDir;

constexpr int kKills = 200;
// A fresh directory every so many kills keeps the tables, their snapshots and the
// final dbfread pass small; five runs in a row are plenty to see rows carried over.
constexpr int kKillsPerDirectory = 5;

std::uint32_t le16(const QByteArray& b, int at) {
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8;
}
std::uint32_t le32(const QByteArray& b, int at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The header's counts and what lies past the committed records, read before anyone
// opens the table.
struct RawLayout {
    std::uint32_t declared = 0;
    std::uint32_t headerLength = 0;
    std::uint32_t recordLength = 0;
    std::int64_t tail = 0; // bytes after the committed records
    bool endMark = false;  // the byte right after them is 0x1A
};

RawLayout rawLayout(const QByteArray& file) {
    RawLayout l;
    if (file.size() < 32)
        return l;
    l.declared = le32(file, 4);
    l.headerLength = le16(file, 8);
    l.recordLength = le16(file, 10);
    const std::int64_t end = std::int64_t(l.headerLength) + std::int64_t(l.declared) * l.recordLength;
    l.tail = file.size() - end;
    l.endMark = l.tail > 0 && file[qsizetype(end)] == '\x1a';
    return l;
}

struct Row {
    qint64 id;
    bool deleted;
};

// Checks every snapshot with dbfread the way the test checks the tables, in one process.
// Prints, per snapshot, its counts, the committed rows it finds wrong, and the ids of the
// rows it reads past the header's count (null for a row that is not whole).
const char* const kDbfreadCheck = R"PY(
import json, os, sys
from dbfread import DBF

folder, length = sys.argv[1], int(sys.argv[2])

def path_of(i):
    unit = '%dñ' % i
    p = '/música/pista-%d-' % i
    while len(p) < length:
        p += unit
    return p[:length]

def whole(row):
    return isinstance(row['DOCID'], int) and row['DOCPATH'] == path_of(row['DOCID'])

out = {}
for name in sorted(os.listdir(folder)):
    try:
        t = DBF(os.path.join(folder, name), encoding='utf-8', load=True)
    except Exception as e:
        out[name] = {'error': repr(e)}
        continue
    live, deleted = list(t.records), list(t.deleted)
    # dbfread reads on to the end mark, not up to the header's count. What lies past
    # the count is the record being appended when the kill came: live, and last.
    extra = len(live) + len(deleted) - t.header.numrecords
    tail = live[len(live) - extra:] if extra > 0 else []
    if extra > 0:
        live = live[:len(live) - extra]
    problems = []
    def check(rows, deleted):
        last = None
        for r in rows:
            i = r['DOCID']
            if not whole(r):
                problems.append('row %r: the path %r does not match the id' % (i, r['DOCPATH'][:40]))
            elif last is not None and i <= last:
                problems.append('row %d: ids do not increase' % i)
            last = i
    check(live, False)
    check(deleted, True)
    out[name] = {'numrecords': t.header.numrecords, 'live': len(live), 'deleted': len(deleted),
                 'extra': extra, 'problems': problems,
                 'tail': [[r['DOCID'] if whole(r) else None] for r in tail]}
json.dump(out, sys.stdout)
)PY";

TEST(KillTest, EveryTableLeftByAKilledWriterOpensWhole) {
    QElapsedTimer clock;
    clock.start();
    TempDir root;
    const QString snapshots = root.file(QStringLiteral("snapshots"));
    ASSERT_TRUE(QDir().mkpath(snapshots));

    // After its start the shortest delays kill the child before its first row. Each row
    // costs two syncs, slow on a busy disk: the longest delays leave room for several. A
    // kill in four lands in the start, the tables' creation included.
    test::KillClock killClock("kill test", 1000, 60000);

    struct Expected {
        std::uint32_t committed;
        std::uint32_t live;
        bool extraRow; // a whole uncommitted record, which dbfread reads as a row
        bool hidden;   // a whole uncommitted record behind the end mark, which it does not
        bool torn;     // part of a record past the committed ones
        int interrupted; // rows the count names whose flags the kill kept from being set
        qint64 lastId; // of the last committed row, deleted or not
    };
    std::map<QString, Expected> expected;

    int kills = 0, beforeTable = 0, withoutNewRow = 0, extraRows = 0, hiddenRows = 0, tornTails = 0,
        interruptedCommits = 0;
    qint64 appended = 0, deletedTotal = 0;
    std::uint32_t largest = 0;
    QString dir;
    bool tableSeen = false;
    std::vector<Row> previous;

    for (int i = 0; i < kKills; ++i) {
        SCOPED_TRACE(QStringLiteral("kill %1 (seed %2)").arg(i).arg(killClock.seed()).toStdString());
        if (i % kKillsPerDirectory == 0) {
            dir = root.file(QStringLiteral("run%1").arg(i / kKillsPerDirectory));
            ASSERT_TRUE(QDir().mkpath(dir));
            tableSeen = false;
            previous.clear();
        }
        QString why;
        ASSERT_TRUE(killClock.runAndKill(MELOFON_KILL_CHILD, dir, &why)) << why.toStdString();
        ++kills;

        const QString path = findTableFile(dir, QStringLiteral("DOCUMENT"));
        if (path.isEmpty()) {
            // Killed before the table was created; once created it never goes away.
            ASSERT_FALSE(tableSeen) << "the table is gone";
            ++beforeTable;
            continue;
        }
        tableSeen = true;

        // The snapshot is taken before our open can cut anything.
        const QByteArray before = readFile(path);
        const QString snapshot = QStringLiteral("%1.dbf").arg(i, 3, 10, QLatin1Char('0'));
        ASSERT_TRUE(QFile::copy(path, snapshots + QLatin1Char('/') + snapshot));
        const RawLayout raw = rawLayout(before);
        ASSERT_GT(raw.recordLength, 0u);
        const bool clean = raw.tail == 1 && raw.endMark;
        // A whole uncommitted record keeps the end mark in its flag byte until the commit
        // writes the flag, just before the count.
        const bool wholeRecord = raw.tail == std::int64_t(raw.recordLength) + 1 && before.endsWith('\x1a');
        const bool extraRow = wholeRecord && !raw.endMark;
        const bool hidden = wholeRecord && raw.endMark;
        const bool torn = !clean && !wholeRecord;
        // Killed between a commit's count and its flags: from the first counted row that
        // still holds the end mark in its flag byte on, the repair marks them deleted.
        int interrupted = 0;
        QByteArray expectedAfter = before.left(qsizetype(std::int64_t(raw.headerLength) +
                                                         std::int64_t(raw.declared) * raw.recordLength));
        for (std::int64_t r = 0; r < std::int64_t(raw.declared); ++r) {
            const qsizetype at = qsizetype(std::int64_t(raw.headerLength) + r * raw.recordLength);
            if (interrupted > 0 || before.at(at) == '\x1a') {
                expectedAfter[at] = '*';
                ++interrupted;
            }
        }
        interruptedCommits += interrupted > 0;
        extraRows += extraRow;
        hiddenRows += hidden;
        tornTails += torn;
        if (torn)
            std::printf("kill %d left %lld bytes past the committed records\n", i,
                        static_cast<long long>(raw.tail));

        std::unique_ptr<DbfTable> table;
        try {
            table = DbfTable::open(path, DbfTable::Mode::ReadWrite);
            table->repair();
        } catch (const StoreError& e) {
            FAIL() << "the table left by the kill does not open: " << e.what();
        }
        ASSERT_EQ(table->rowCount(), raw.declared) << "the header counts rows the file does not hold";

        // The repair leaves exactly the committed records and the end mark.
        const QByteArray after = readFile(path);
        const std::int64_t end = std::int64_t(raw.headerLength) + std::int64_t(raw.declared) * raw.recordLength;
        EXPECT_EQ(after.size(), end + 1);
        EXPECT_TRUE(after.endsWith('\x1a'));
        EXPECT_EQ(after.left(qsizetype(end)), expectedAfter);

        const int idField = table->fieldIndex("DOCID");
        const int pathField = table->fieldIndex("DOCPATH");
        ASSERT_GE(idField, 0);
        ASSERT_GE(pathField, 0);
        std::vector<Row> rows;
        rows.reserve(table->rowCount());
        qint64 lastId = 0;
        for (std::uint32_t r = 0; r < table->rowCount(); ++r) {
            const QVariant v = table->value(r, idField);
            ASSERT_FALSE(v.isNull()) << "row " << r << " has no id";
            const qint64 id = v.toLongLong();
            ASSERT_GT(id, lastId) << "row " << r << ": ids do not increase";
            ASSERT_EQ(table->text(r, pathField), test::killRowPath(id)) << "row " << r;
            const bool deleted = table->isDeleted(r);
            // Rows of an interrupted commit, now or in an earlier run, are deleted too.
            const bool wasInterrupted = r >= table->rowCount() - std::uint32_t(interrupted) ||
                                        (r < previous.size() && previous[r].deleted);
            ASSERT_TRUE(!deleted || wasInterrupted || test::killRowMayBeDeleted(id))
                << "row " << r << " (id " << id << ") is deleted; the child never deletes it";
            rows.push_back({id, deleted});
            lastId = id;
        }

        // Nothing committed before this run is lost or changed; rows only become deleted.
        ASSERT_GE(rows.size(), previous.size());
        std::int64_t previousLive = 0, deletedOld = 0, deletedNew = 0;
        for (std::size_t r = 0; r < previous.size(); ++r) {
            ASSERT_EQ(rows[r].id, previous[r].id) << "row " << r;
            ASSERT_TRUE(rows[r].deleted || !previous[r].deleted) << "row " << r << " came back";
            previousLive += !previous[r].deleted;
            deletedOld += rows[r].deleted && !previous[r].deleted;
        }
        for (std::size_t r = previous.size(); r < rows.size(); ++r)
            deletedNew += rows[r].deleted;
        EXPECT_GE(std::int64_t(table->liveRowCount()), previousLive - deletedOld)
            << "the live count went back further than the deletions explain";

        const std::uint32_t added = std::uint32_t(rows.size() - previous.size());
        appended += added;
        deletedTotal += deletedOld + deletedNew;
        withoutNewRow += added == 0;
        largest = std::max(largest, table->rowCount());
        expected[snapshot] = {table->rowCount(), table->liveRowCount(), extraRow, hidden, torn, interrupted, lastId};
        previous = std::move(rows);
    }

    // One dbfread process reads every snapshot, uncut as the kill left it.
    const QByteArray json = test::runProgram(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"), QString::fromUtf8(kDbfreadCheck), snapshots,
         QString::number(test::kKillRowPathLength)});
    const QJsonObject seen = QJsonDocument::fromJson(json).object();
    int dbfreadFailed = 0;
    ASSERT_EQ(seen.size(), qsizetype(expected.size()));
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name.toStdString());
        const QJsonObject got = seen.value(name).toObject();
        ASSERT_FALSE(got.isEmpty());
        if (got.contains(QStringLiteral("error"))) {
            // dbfread reads past the header's count into a half-written record, and may
            // fail on it (a UTF-8 character cut in two).
            EXPECT_TRUE(want.torn) << "dbfread: " << got.value(QStringLiteral("error")).toString().toStdString();
            dbfreadFailed += want.torn;
            continue;
        }
        EXPECT_EQ(got.value(QStringLiteral("numrecords")).toInteger(), want.committed);
        for (const QJsonValue& problem : got.value(QStringLiteral("problems")).toArray())
            ADD_FAILURE() << "dbfread: " << problem.toString().toStdString();
        EXPECT_EQ(got.value(QStringLiteral("live")).toInteger(), want.live);
        // dbfread stops at the end mark an interrupted commit left in a flag byte.
        EXPECT_EQ(got.value(QStringLiteral("deleted")).toInteger(), want.committed - want.live - want.interrupted);

        // Past the count dbfread shows the uncommitted record as a row, whole and next in
        // line; of a half-written one it shows whatever it could read.
        const QJsonArray tail = got.value(QStringLiteral("tail")).toArray();
        const qint64 extra = got.value(QStringLiteral("extra")).toInteger();
        if (want.extraRow) {
            ASSERT_EQ(tail.size(), 1);
            EXPECT_EQ(tail.at(0).toArray().at(0).toInteger(-1), want.lastId + 1);
        } else if (want.hidden) {
            EXPECT_EQ(extra, 0);
        } else if (want.torn) {
            EXPECT_TRUE(extra == 0 || extra == 1) << extra;
        } else {
            EXPECT_EQ(extra, -want.interrupted);
        }
    }

    std::printf("%d kills: %d before the table existed, %d before the run's first row, "
                "%d with an uncommitted whole row (%d of them behind the end mark), %d with a "
                "partial row, %d between a commit's count and its flags; %lld rows appended, %lld deleted, at most %u rows in a table; dbfread "
                "failed on %d snapshots; %.1f s\n",
                kills, beforeTable, withoutNewRow, extraRows + hiddenRows, hiddenRows, tornTails, interruptedCommits, appended, deletedTotal,
                largest, dbfreadFailed, double(clock.elapsed()) / 1000.0);
    EXPECT_GT(withoutNewRow + beforeTable, 0) << "no kill landed before the first row";
    // Usually two thirds; far fewer means the child hardly ever wrote before the kill.
    EXPECT_GT(kills - withoutNewRow - beforeTable, kills / 3) << "too few runs wrote rows";
}

} // namespace
} // namespace melofon::store
