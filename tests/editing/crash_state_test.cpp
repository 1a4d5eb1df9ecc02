// Records every write and sync the four editing commands make, then rebuilds each state a
// crash or power cut could leave on disk: every prefix of the synced steps, with any
// subset of the writes not yet synced. Each state must open, list and take new edits,
// keep everything a finished command wrote, and never hold a link to a missing entry
// (which a reused id would revive). dbfread must read every state too.

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
    enum Kind { Write, Truncate, Sync } kind;
    QString file;
    std::int64_t offset; // the length, for a truncate
    QByteArray data;
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
    std::vector<Op> ops;

private:
    static QString fileOf(int fd) {
        return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))).fileName();
    }
};

using Files = std::map<QString, QByteArray>;

void apply(Files& files, const Op& op) {
    QByteArray& f = files[op.file];
    if (op.kind == Op::Truncate) {
        f.resize(qsizetype(op.offset), '\0');
    } else if (op.kind == Op::Write) {
        const qsizetype end = qsizetype(op.offset) + op.data.size();
        if (f.size() < end)
            f.resize(end, '\0');
        f.replace(qsizetype(op.offset), op.data.size(), op.data);
    }
}

// Every state a crash during `ops` can leave, starting from `before`. A sync makes the
// writes to its own file durable; until then each write may or may not have reached the
// disk.
std::vector<Files> crashStates(const Files& before, const std::vector<Op>& ops) {
    std::vector<Files> states;
    Files durable = before;
    std::vector<const Op*> pending;
    for (std::size_t p = 0;; ++p) {
        EXPECT_LE(pending.size(), 16u) << "too many unsynced writes to try every subset";
        for (std::uint32_t mask = 0; mask < (1u << std::min<std::size_t>(pending.size(), 16)); ++mask) {
            Files state = durable;
            for (std::size_t i = 0; i < pending.size(); ++i)
                if (mask & (1u << i))
                    apply(state, *pending[i]);
            states.push_back(std::move(state));
        }
        if (p == ops.size())
            return states;
        const Op& op = ops[p];
        if (op.kind != Op::Sync) {
            pending.push_back(&op);
            continue;
        }
        std::erase_if(pending, [&](const Op* w) {
            if (w->file != op.file)
                return false;
            apply(durable, *w);
            return true;
        });
    }
}

Files readTables(const TempDir& dir) {
    Files files;
    for (const QString& t : kTables)
        files[t] = dir.read(t);
    return files;
}

void writeTables(const TempDir& dir, const Files& files) {
    for (const auto& [name, bytes] : files) {
        dir.write(name, bytes);
        dir.write(QFileInfo(name).completeBaseName() + QStringLiteral(".cpg"), "UTF-8");
    }
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
};

// Opens the state, checks its rows against the command's before and after, lists every
// playlist, then creates a playlist and adds a file to it.
void checkState(const Files& state, const Rows& before, const Rows& after, bool finished) {
    TempDir dir;
    writeTables(dir, state);
    std::unique_ptr<PlaylistStore> store;
    try {
        store = std::make_unique<PlaylistStore>(dir.path());
    } catch (const store::StoreError& e) {
        FAIL() << "does not open: " << e.what();
    }
    const Rows now = liveRows(dir.path());
    QSet<qint32> docIds;
    for (const QString& name : kTables) {
        SCOPED_TRACE(name.toStdString());
        const QStringList& b = before.at(name);
        const QStringList& a = after.at(name);
        for (const QString& row : now.at(name))
            EXPECT_TRUE(b.contains(row) || a.contains(row)) << "a row from nowhere: " << row.toStdString();
        for (const QString& row : a)
            EXPECT_TRUE(!b.contains(row) || now.at(name).contains(row)) << "lost: " << row.toStdString();
        if (finished) {
            EXPECT_EQ(now.at(name), a);
        }
    }
    for (const QString& row : now.at(kTables[1]))
        docIds.insert(row.section(QLatin1Char(' '), 0, 0).toInt());
    for (const QString& link : now.at(kTables[2]))
        EXPECT_TRUE(docIds.contains(link.section(QLatin1Char(' '), 1, 1).toInt()))
            << "a link to a missing entry: " << link.toStdString();

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

TEST(CrashStateTest, EveryStateACrashCanLeaveOpensListsAndEdits) {
    TempDir dir;
    {
        PlaylistStore s(dir.path());
        test::addPlaylist(s, 1, QStringLiteral("Rock"));
        test::addPlaylist(s, 2, QStringLiteral("Jazz"));
        test::addFile(s, 1, 1, QStringLiteral("/música/uno.mp3"));
        test::addFile(s, 2, 2, QStringLiteral("/música/dos.mp3"));
        test::addFile(s, 1, 3, QStringLiteral("/música/tres.mp3"));
    }
    const QString nul(QChar(0));
    // Ends with "Eliminar" on the playlist whose entries are the last rows of DOCUMENT:
    // the case where a link left behind would name the next new entry.
    const Command commands[] = {
        {"Nueva", 0,
         [](Editing& e) {
             e.scripted.input.answers.push_back(QStringLiteral("Pop"));
             cmdNuevaLis_Click(e.c);
         }},
        {"Agregar", 2,
         [&](Editing& e) {
             e.scripted.files.choices.push_back(QStringLiteral("/música") + nul + QStringLiteral("a.mp3") + nul +
                                                QStringLiteral("b.mp3"));
             cmdAgregarDoc_Click(e.c);
         }},
        {"Quitar", 0,
         [](Editing& e) {
             e.lstContenido.setListIndex(0);
             e.scripted.messages.answers.push_back(MessageBoxes::vbYes);
             cmdEliminarDoc_Click(e.c);
         }},
        {"Eliminar", 2,
         [](Editing& e) {
             e.scripted.messages.answers.push_back(MessageBoxes::vbYes);
             cmdEliminarLis_Click(e.c);
         }},
    };

    TempDir forDbfread;
    std::map<QString, qint64> liveCounts; // what we list of each state, before any repair
    std::set<QByteArray> seen;
    std::size_t states = 0;
    for (const Command& command : commands) {
        SCOPED_TRACE(command.name);
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

        const std::vector<Files> crashes = crashStates(before, io.ops);
        states += crashes.size();
        for (std::size_t i = 0; i < crashes.size(); ++i) {
            QByteArray key;
            for (const auto& [name, bytes] : crashes[i])
                key += bytes + '\n';
            if (!seen.insert(key).second)
                continue;
            SCOPED_TRACE(QStringLiteral("crash state %1 of %2").arg(i).arg(crashes.size()).toStdString());
            checkState(crashes[i], rowsBefore, rowsAfter, i + 1 == crashes.size());
            const QString copy = forDbfread.file(QString::number(seen.size()));
            QDir().mkpath(copy);
            for (const auto& [name, bytes] : crashes[i]) {
                QFile f(QDir(copy).filePath(name));
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(bytes);
            }
            const Rows listed = liveRows(copy);
            for (const QString& name : kTables)
                liveCounts[QString::number(seen.size()) + QLatin1Char('/') + name] =
                    listed.count(name) ? listed.at(name).size() : 0;
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }

    const QByteArray json = test::runProgram(QStringLiteral("/usr/bin/python3"),
                                             {QStringLiteral("-c"), QString::fromUtf8(kDbfreadAll), forDbfread.path()});
    // dbfread reads every state and lists the same rows we do: it reads on to the end
    // mark, we go by the count.
    const QJsonObject counts = QJsonDocument::fromJson(json).object();
    for (const auto& [state, live] : liveCounts) {
        const QJsonValue n = counts.value(state);
        EXPECT_TRUE(n.isDouble() && n.toInteger() == live)
            << state.toStdString() << ": dbfread " << QJsonDocument(QJsonArray{n}).toJson(QJsonDocument::Compact).toStdString()
            << ", we list " << live;
    }
    std::printf("%zu crash states checked (%zu distinct) over the four commands\n", states, seen.size());
}

// When the disk refuses to make the new entries durable, they are taken back, and so are
// their links, which would otherwise name entries that are gone.
TEST(CrashStateTest, AFailedCommitTakesBackTheLinksOfTheEntriesItLost) {
    class FailingSync : public TableIo {
    public:
        bool sync(int fd) override {
            if (QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd)).endsWith(QStringLiteral("DOCUMENT.dbf"))) {
                errno = EIO;
                return false;
            }
            return TableIo::sync(fd);
        }
    } failing;
    TempDir dir;
    {
        PlaylistStore s(dir.path());
        test::addPlaylist(s, 1, QStringLiteral("Rock"));
        test::addFile(s, 1, 1, QStringLiteral("/música/uno.mp3"));
    }
    const Files before = readTables(dir);
    {
        PlaylistStore s(dir.path());
        startSources(s);
        Editing e(s);
        e.fill(0);
        e.scripted.files.choices.push_back(QStringLiteral("/música") + QChar(0) + QStringLiteral("a.mp3") + QChar(0) +
                                           QStringLiteral("b.mp3"));
        TableIo::install(&failing);
        try {
            cmdAgregarDoc_Click(e.c);
            ADD_FAILURE() << "the failed commit was not reported";
        } catch (const store::StoreError& err) {
            EXPECT_TRUE(err.message().contains(QStringLiteral("DOCUMENT.dbf")) &&
                        err.message().contains(QStringLiteral("entrada/salida")))
                << err.message().toStdString();
        }
        TableIo::install(nullptr);
    }
    EXPECT_EQ(readTables(dir), before);
}

} // namespace
} // namespace melofon::editing
