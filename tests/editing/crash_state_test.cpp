// Records every write, sync and directory change the editing commands make, then rebuilds
// each state a crash could leave on disk: for a power cut, every prefix of the synced
// steps with any subset of the writes not yet synced; for a killed program, every prefix
// of the calls and every last write torn halfway. Each state must open as exactly the
// tables before the command or exactly those after it, and (for the small commands) take
// new edits. dbfread must read every state of the small commands as we do, and at no
// state may readers that stop at the end mark and readers that go by the count disagree
// for longer than one write.

#include "ui/list_box_widget.h"
#include "editing/commands.h"
#include "store/dbf_table.h"
#include "support/scripted_dialogs.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

namespace melofon::editing {
namespace {

using store::DbfTable;
using store::PlaylistStore;
using store::TableIo;
using test::TempDir;

const QString kTables[] = {QStringLiteral("Listas.dbf"), QStringLiteral("DOCUMENT.dbf"),
                           QStringLiteral("LISDOC.dbf")};

struct Op {
    enum Kind { Write, Truncate, Sync, Rename, Remove, SyncDir } kind;
    QString file; // for a rename, the old name
    std::int64_t offset; // the length, for a truncate
    QByteArray data;     // for a rename, the new name
};

class RecordingIo : public TableIo {
public:
    bool write(int fd, const char* data, std::size_t size, std::int64_t offset) override {
        ops.push_back({Op::Write, fileOf(fd), offset, QByteArray(data, qsizetype(size))});
        return TableIo::write(fd, data, size, offset);
    }
    bool sync(int fd) override {
        ops.push_back({Op::Sync, fileOf(fd), 0, {}});
        return TableIo::sync(fd);
    }
    bool truncate(int fd, std::int64_t length) override {
        ops.push_back({Op::Truncate, fileOf(fd), length, {}});
        return TableIo::truncate(fd, length);
    }
    bool rename(const QString& from, const QString& to) override {
        ops.push_back({Op::Rename, QFileInfo(from).fileName(), 0, QFileInfo(to).fileName().toUtf8()});
        return TableIo::rename(from, to);
    }
    bool remove(const QString& path) override {
        ops.push_back({Op::Remove, QFileInfo(path).fileName(), 0, {}});
        return TableIo::remove(path);
    }
    bool syncDirectory(int fd) override {
        ops.push_back({Op::SyncDir, {}, 0, {}});
        return TableIo::syncDirectory(fd);
    }
    std::vector<Op> ops;

private:
    static QString fileOf(int fd) {
        return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))).fileName();
    }
};

using Files = std::map<QString, QByteArray>;

void applyOp(Files& files, const Op& op) {
    if (op.kind == Op::Rename) {
        files[QString::fromUtf8(op.data)] = files[op.file];
        files.erase(op.file);
        return;
    }
    if (op.kind == Op::Remove) {
        files.erase(op.file);
        return;
    }
    if (op.kind != Op::Write && op.kind != Op::Truncate)
        return;
    QByteArray& f = files[op.file];
    if (op.kind == Op::Truncate) {
        f.resize(qsizetype(op.offset), '\0');
    } else {
        const qsizetype end = qsizetype(op.offset) + op.data.size();
        if (f.size() < end)
            f.resize(end, '\0');
        f.replace(qsizetype(op.offset), op.data.size(), op.data);
    }
}

// Every state a power cut during `ops` can leave, starting from `before`. A sync makes the
// writes to its own file durable; until then each write may or may not have reached the
// disk. Renames and removals are taken to reach it in order, for good once the directory
// is synced; no more than a removal and the next rename are ever pending together, and
// either order leaves the same names.
std::vector<Files> powerCutStates(const Files& before, const std::vector<Op>& ops) {
    std::vector<Files> states;
    Files durable = before;
    std::vector<const Op*> pending, pendingDir;
    for (std::size_t p = 0;; ++p) {
        EXPECT_LE(pending.size(), 16u) << "too many unsynced writes to try every subset";
        for (std::size_t d = 0; d <= pendingDir.size(); ++d) {
            Files base = durable;
            for (std::size_t i = 0; i < d; ++i)
                applyOp(base, *pendingDir[i]);
            for (std::uint32_t mask = 0; mask < (1u << std::min<std::size_t>(pending.size(), 16)); ++mask) {
                Files state = base;
                for (std::size_t i = 0; i < pending.size(); ++i)
                    if (mask & (1u << i))
                        applyOp(state, *pending[i]);
                states.push_back(std::move(state));
            }
        }
        if (p == ops.size())
            return states;
        const Op& op = ops[p];
        if (op.kind == Op::Rename || op.kind == Op::Remove) {
            for (const Op* w : pending)
                EXPECT_NE(w->file, op.file) << "renamed or removed before its writes were synced";
            pendingDir.push_back(&op);
        } else if (op.kind == Op::SyncDir) {
            for (const Op* d : pendingDir)
                applyOp(durable, *d);
            pendingDir.clear();
        } else if (op.kind != Op::Sync) {
            pending.push_back(&op);
        } else {
            std::erase_if(pending, [&](const Op* w) {
                if (w->file != op.file)
                    return false;
                applyOp(durable, *w);
                return true;
            });
        }
    }
}

// Every state a killed program can leave: the page cache outlives it, so every call made
// reaches the disk, in order; the last write perhaps only halfway. Each state comes with
// the number of calls it holds whole.
std::vector<std::pair<std::size_t, Files>> killStates(const Files& before, const std::vector<Op>& ops) {
    std::vector<std::pair<std::size_t, Files>> states{{0, before}};
    Files now = before;
    for (std::size_t p = 0; p < ops.size(); ++p) {
        const Op& op = ops[p];
        if (op.kind == Op::Write && op.data.size() > 1) {
            Op torn = op;
            torn.data.truncate(op.data.size() / 2);
            Files state = now;
            applyOp(state, torn);
            states.emplace_back(p, std::move(state));
        }
        applyOp(now, op);
        if (op.kind != Op::Sync && op.kind != Op::SyncDir)
            states.emplace_back(p + 1, now);
    }
    return states;
}

Files readTables(const TempDir& dir) {
    Files files;
    for (const QString& t : kTables)
        files[t] = dir.read(t);
    return files;
}

void writeFiles(const TempDir& dir, const Files& files) {
    for (const auto& [name, bytes] : files)
        dir.write(name, bytes);
    for (const QString& t : kTables)
        dir.write(QFileInfo(t).completeBaseName() + QStringLiteral(".cpg"), "UTF-8");
}

// Live rows per table as "a b" lines, in stored order.
using Rows = std::map<QString, QStringList>;

Rows liveRows(const QString& dir) {
    Rows rows;
    for (const QString& name : kTables) {
        auto t = DbfTable::open(QDir(dir).filePath(name), DbfTable::Mode::ReadOnly);
        for (std::uint32_t r = 0; r < t->rowCount(); ++r)
            if (!t->isDeleted(r))
                rows[name] << t->text(r, 0) + QLatin1Char(' ') + t->text(r, 1);
    }
    return rows;
}

// The window's two boxes and dialogs around the commands, without the window.
struct Editing {
    explicit Editing(PlaylistStore& s) : store(s) {}
    void fill(int playlistRow) {
        store::LlenarListas(lstListas, store.dtcListas());
        lstListas.setListIndex(playlistRow);
        store::LlenarDocumentos(lstContenido, store::SelId(lstListas), store.dtcLisDoc(), store.dtcDocumentos());
    }
    PlaylistStore& store;
    app::ListBoxWidget lstListas{false, nullptr};
    app::ListBoxWidget lstContenido{true, nullptr};
    test::ScriptedDialogs scripted;
    QString sDirectorio;
    EditingContext c{store, lstListas, lstContenido, [](bool) {}, scripted.messages, scripted.input, scripted.files,
                     sDirectorio};
};

void startSources(PlaylistStore& s) {
    s.dtcListas().Refresh();
    s.dtcDocumentos().Refresh();
    s.dtcLisDoc().Refresh();
}

struct Command {
    const char* name;
    int playlistRow;
    std::function<void(Editing&)> run;
    bool small; // few enough writes to try every power-cut subset and to edit every state
};

// The live records of a table file as two kinds of reader list them: one that goes by the
// header's count (dbfdump) and one that reads on to the end mark (dbfread).
std::pair<QList<int>, QList<int>> readerRows(const QByteArray& f) {
    if (f.size() < 32)
        return {};
    const auto u16 = [&](int at) { return int(std::uint8_t(f[at])) | int(std::uint8_t(f[at + 1])) << 8; };
    const qint64 count = qint64(u16(4)) | qint64(u16(6)) << 16;
    const int header = u16(8), length = u16(10);
    QList<int> byCount, toEndMark;
    bool ended = false;
    for (qint64 r = 0, at = header; length > 0 && at + length <= f.size(); ++r, at += length) {
        const char flag = f[qsizetype(at)];
        if (r < count && flag != '*')
            byCount << int(r);
        ended = ended || flag == '\x1a';
        if (!ended && flag == ' ')
            toEndMark << int(r);
    }
    return {byCount, toEndMark};
}

const char* const kJournals[] = {"Melofon-diario.txt", "Melofon-diario.nuevo"};

// Opens the state, checks that it lists exactly the tables before the command or exactly
// those after it; when `edit`, then creates a playlist and adds a file to it.
void checkState(const Files& state, const Rows& before, const Rows& after, bool edit) {
    TempDir dir;
    writeFiles(dir, state);
    std::unique_ptr<PlaylistStore> store;
    try {
        store = std::make_unique<PlaylistStore>(dir.path());
    } catch (const store::StoreError& e) {
        FAIL() << "does not open: " << e.what();
    }
    for (const char* journal : kJournals)
        EXPECT_FALSE(QFile::exists(dir.file(QString::fromLatin1(journal)))) << journal << " is left";
    const Rows now = liveRows(dir.path());
    if (now != before && now != after) {
        for (const QString& name : kTables)
            ADD_FAILURE() << name.toStdString() << ": " << now.at(name).size() << " rows, before "
                          << before.at(name).size() << ", after " << after.at(name).size();
        return;
    }
    if (!edit)
        return;

    startSources(*store);
    Editing e(*store);
    e.scripted.input.answers.push_back(QStringLiteral("Nueva tras el corte"));
    cmdNuevaLis_Click(e.c);
    e.fill(-1);
    e.fill(e.lstListas.ListCount() - 1);
    e.scripted.files.choices.push_back(QStringLiteral("/música/tras el corte.mp3"));
    cmdAgregarDoc_Click(e.c);
    EXPECT_TRUE(e.scripted.messages.calls.empty()) << e.scripted.messages.calls.front().prompt.toStdString();
    store.reset();

    // The new entry is named by its one link only.
    const Rows edited = liveRows(dir.path());
    ASSERT_EQ(edited.at(kTables[0]).size(), now.at(kTables[0]).size() + 1);
    ASSERT_EQ(edited.at(kTables[1]).size(), now.at(kTables[1]).size() + 1);
    const QString newDoc = edited.at(kTables[1]).last().section(QLatin1Char(' '), 0, 0);
    int naming = 0;
    for (const QString& link : edited.at(kTables[2]))
        naming += link.section(QLatin1Char(' '), 1, 1) == newDoc;
    EXPECT_EQ(naming, 1) << "entry " << newDoc.toStdString() << " is named by an older link";
}

const char* const kDbfreadAll = R"PY(
import json, os, sys
from dbfread import DBF
out = {}
for state in sorted(os.listdir(sys.argv[1])):
    for name in ('Listas.dbf', 'DOCUMENT.dbf', 'LISDOC.dbf'):
        path = os.path.join(sys.argv[1], state, name)
        try:
            out[state + '/' + name] = len(DBF(path, encoding='utf-8', load=True).records)
        except Exception as e:
            out[state + '/' + name] = repr(e)
json.dump(out, sys.stdout)
)PY";

// What reaches the disk when is settled once the calls are recorded; checking thousands
// of states needs no syncs.
class NoSyncIo : public TableIo {
public:
    bool sync(int) override { return true; }
    bool syncDirectory(int) override { return true; }
};

QString nulJoined(const QString& dir, const QStringList& names) {
    QString choice = dir;
    for (const QString& n : names)
        choice += QChar(0) + n;
    return choice;
}

QStringList numberedFiles(const QString& stem, int n) {
    QStringList names;
    for (int i = 0; i < n; ++i)
        names << QStringLiteral("%1 %2.mp3").arg(stem).arg(i, 4, 10, QLatin1Char('0'));
    return names;
}

TEST(CrashStateTest, EveryStateACrashCanLeaveOpensAsBeforeOrAfterTheCommand) {
    TempDir dir;
    {
        PlaylistStore s(dir.path());
        test::addPlaylist(s, 1, QStringLiteral("Rock"));
        test::addPlaylist(s, 2, QStringLiteral("Jazz"));
        test::addFile(s, 1, 1, QStringLiteral("/música/uno.mp3"));
        test::addFile(s, 2, 2, QStringLiteral("/música/dos.mp3"));
        test::addFile(s, 1, 3, QStringLiteral("/música/tres.mp3"));
    }
    const auto yes = [](Editing& e) { e.scripted.messages.answers.push_back(MessageBoxes::vbYes); };
    // The small commands end with "Eliminar" on the playlist whose entries are the last
    // rows of DOCUMENT: the case where a link left behind would name the next new entry.
    // Before the large ones, a playlist of 1,000 entries is added (rows 2 then).
    const Command commands[] = {
        {"Nueva", 0,
         [](Editing& e) {
             e.scripted.input.answers.push_back(QStringLiteral("Pop"));
             cmdNuevaLis_Click(e.c);
         },
         true},
        {"Agregar", 2,
         [](Editing& e) {
             e.scripted.files.choices.push_back(nulJoined(QStringLiteral("/música"), {QStringLiteral("a.mp3"), QStringLiteral("b.mp3")}));
             cmdAgregarDoc_Click(e.c);
         },
         true},
        {"Quitar", 0,
         [&](Editing& e) {
             e.lstContenido.setListIndex(0);
             yes(e);
             cmdEliminarDoc_Click(e.c);
         },
         true},
        {"Eliminar", 2,
         [&](Editing& e) {
             yes(e);
             cmdEliminarLis_Click(e.c);
         },
         true},
        {"Agregar 300", 0,
         [](Editing& e) {
             e.scripted.files.choices.push_back(nulJoined(QStringLiteral("/música/nuevos"), numberedFiles(QStringLiteral("Canción"), 300)));
             cmdAgregarDoc_Click(e.c);
         },
         false},
        {"Quitar de 300", 0,
         [&](Editing& e) {
             e.lstContenido.setListIndex(150);
             yes(e);
             cmdEliminarDoc_Click(e.c);
         },
         false},
        {"Eliminar 1000", 2,
         [&](Editing& e) {
             yes(e);
             cmdEliminarLis_Click(e.c);
         },
         false},
    };

    TempDir forDbfread;
    std::map<QString, qint64> liveCounts; // what a reader to the end mark lists of each state
    std::set<QByteArray> seen;
    std::size_t states = 0;
    QStringList perCommand;
    NoSyncIo noSync;
    for (const Command& command : commands) {
        SCOPED_TRACE(command.name);
        if (!command.small && command.name == std::string("Agregar 300")) {
            PlaylistStore s(dir.path());
            PlaylistStore::Batch batch(s);
            test::addPlaylist(s, 3, QStringLiteral("Mil"));
            for (int i = 0; i < 1000; ++i)
                test::addFile(s, 3, 100 + i, QStringLiteral("/música/mil/%1.mp3").arg(i));
        }
        const Files before = readTables(dir);
        const Rows rowsBefore = liveRows(dir.path());
        RecordingIo io;
        {
            PlaylistStore s(dir.path());
            startSources(s);
            Editing e(s);
            e.fill(command.playlistRow);
            TableIo::install(&io);
            command.run(e);
            TableIo::install(nullptr);
            for (const auto& call : e.scripted.messages.calls)
                EXPECT_EQ(call.flags, MessageBoxes::vbYesNo) << call.prompt.toStdString();
        }
        const Rows rowsAfter = liveRows(dir.path());
        ASSERT_NE(rowsAfter, rowsBefore) << "the command changed nothing";
        // Done, the command leaves the three tables and nothing else.
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("Melofon*")}, QDir::Files), QStringList());
        ASSERT_EQ(readTables(dir).size(), 3u);

        TableIo::install(&noSync);
        const auto checkOnce = [&](const Files& state, bool edit) {
            QByteArray key;
            for (const auto& [name, bytes] : state)
                key += name.toUtf8() + '\n' + bytes + '\n';
            if (!seen.insert(key).second)
                return false;
            checkState(state, rowsBefore, rowsAfter, edit);
            return true;
        };
        if (command.small) {
            const std::vector<Files> cuts = powerCutStates(before, io.ops);
            states += cuts.size();
            for (std::size_t i = 0; i < cuts.size() && !::testing::Test::HasFatalFailure(); ++i) {
                SCOPED_TRACE(QStringLiteral("power cut state %1 of %2").arg(i).arg(cuts.size()).toStdString());
                if (!checkOnce(cuts[i], true))
                    continue;
                const QString copy = forDbfread.file(QString::number(seen.size()));
                QDir().mkpath(copy);
                for (const QString& name : kTables) {
                    QFile f(QDir(copy).filePath(name));
                    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                    f.write(cuts[i].at(name));
                    liveCounts[QString::number(seen.size()) + QLatin1Char('/') + name] =
                        readerRows(cuts[i].at(name)).second.size();
                }
            }
            EXPECT_EQ(cuts.back().at(kTables[1]), readTables(dir).at(kTables[1]));
        }
        const auto kills = killStates(before, io.ops);
        states += kills.size();
        perCommand << QStringLiteral("%1 %2").arg(QString::fromLatin1(command.name)).arg(kills.size());
        std::map<QString, std::set<std::size_t>> disagreeing; // per table, after how many calls
        for (std::size_t i = 0; i < kills.size() && !::testing::Test::HasFatalFailure(); ++i) {
            SCOPED_TRACE(QStringLiteral("kill state %1 of %2").arg(i).arg(kills.size()).toStdString());
            const auto& [calls, state] = kills[i];
            for (const QString& name : kTables) {
                const auto [byCount, toEndMark] = readerRows(state.at(name));
                if (byCount != toEndMark)
                    disagreeing[name].insert(calls);
            }
            checkOnce(state, command.small);
        }
        for (const auto& [name, calls] : disagreeing)
            EXPECT_LE(calls.size(), 1u) << name.toStdString() << ": readers disagree after " << calls.size()
                                        << " different calls";
        TableIo::install(nullptr);
    }

    const QByteArray json = test::runProgram(QStringLiteral("/usr/bin/python3"),
                                             {QStringLiteral("-c"), QString::fromUtf8(kDbfreadAll), forDbfread.path()});
    // dbfread lists in every state what a reader to the end mark is taken to list above.
    const QJsonObject counts = QJsonDocument::fromJson(json).object();
    for (const auto& [state, live] : liveCounts) {
        const QJsonValue n = counts.value(state);
        EXPECT_TRUE(n.isDouble() && n.toInteger() == live)
            << state.toStdString() << ": dbfread " << QJsonDocument(QJsonArray{n}).toJson(QJsonDocument::Compact).toStdString()
            << ", we list " << live;
    }
    std::printf("%zu crash states checked (%zu distinct) over %zu commands; killed inside: %s\n", states, seen.size(),
                std::size(commands), qPrintable(perCommand.join(QStringLiteral(", "))));
}

// A commit the disk refuses at any of its steps is taken back whole, byte for byte,
// links and all, leaves no journal behind, and the file box shows the playlist as it is.
TEST(CrashStateTest, ACommitTheDiskRefusesAtAnyStepLeavesTheTablesAsTheyWere) {
    class FailingIo : public TableIo {
    public:
        Op::Kind kind;
        QString file;
        int err;
        bool failed = false;
        bool write(int fd, const char* data, std::size_t size, std::int64_t offset) override {
            return fails(Op::Write, name(fd)) ? false : TableIo::write(fd, data, size, offset);
        }
        bool sync(int fd) override { return fails(Op::Sync, name(fd)) ? false : TableIo::sync(fd); }
        bool rename(const QString& from, const QString& to) override {
            return fails(Op::Rename, QFileInfo(from).fileName()) ? false : TableIo::rename(from, to);
        }
        bool syncDirectory(int fd) override { return fails(Op::SyncDir, {}) ? false : TableIo::syncDirectory(fd); }

    private:
        static QString name(int fd) {
            return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))).fileName();
        }
        bool fails(Op::Kind k, const QString& f) {
            if (failed || k != kind || f != file)
                return false;
            failed = true;
            errno = err;
            return true;
        }
    };
    const struct {
        const char* step;
        Op::Kind kind;
        const char* file;
        int err;
        const char* said;
    } cases[] = {
        {"the new entries made durable", Op::Sync, "DOCUMENT.dbf", EIO, "entrada/salida"},
        {"the journal written", Op::Write, "Melofon-diario.nuevo", ENOSPC, "lleno"},
        {"the journal named", Op::Rename, "Melofon-diario.nuevo", EIO, "entrada/salida"},
        {"the journal made durable", Op::SyncDir, "", EIO, "entrada/salida"},
        {"the links' count made durable", Op::Sync, "LISDOC.dbf", EIO, "entrada/salida"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        TempDir dir;
        {
            PlaylistStore s(dir.path());
            test::addPlaylist(s, 1, QStringLiteral("Rock"));
            test::addFile(s, 1, 1, QStringLiteral("/música/uno.mp3"));
        }
        const Files before = readTables(dir);
        FailingIo failing;
        failing.kind = c.kind;
        failing.file = QString::fromLatin1(c.file);
        failing.err = c.err;
        {
            PlaylistStore s(dir.path());
            startSources(s);
            Editing e(s);
            e.fill(0);
            e.scripted.files.choices.push_back(nulJoined(QStringLiteral("/música"), {QStringLiteral("a.mp3"), QStringLiteral("b.mp3")}));
            TableIo::install(&failing);
            try {
                cmdAgregarDoc_Click(e.c);
                ADD_FAILURE() << "the failed commit was not reported";
            } catch (const store::StoreError& err) {
                EXPECT_TRUE(err.message().contains(QString::fromLatin1(c.said))) << err.message().toStdString();
            }
            TableIo::install(nullptr);
            EXPECT_TRUE(failing.failed);
            EXPECT_EQ(e.lstContenido.ListCount(), 1);
        }
        EXPECT_EQ(readTables(dir), before);
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("Melofon*")}, QDir::Files), QStringList());
    }
}

} // namespace
} // namespace melofon::editing
