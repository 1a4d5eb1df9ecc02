#include "store/dbf_format.h"
#include "store/playlist_store.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <map>

using melofon::store::DbfTable;
using melofon::store::PlaylistStore;
using melofon::store::StoreError;
using melofon::test::TempDir;

namespace {

std::vector<QByteArray> fieldNames(const QString& path) {
    auto t = DbfTable::open(path, DbfTable::Mode::ReadOnly);
    std::vector<QByteArray> names;
    for (const auto& f : t->fields())
        names.push_back(f.name + ' ' + f.type + QByteArray::number(f.length));
    return names;
}

} // namespace

TEST(PlaylistStoreTest, FirstStartCreatesTheThreeTablesEmpty) {
    TempDir dir;
    PlaylistStore store(dir.path());
    EXPECT_EQ(fieldNames(dir.file(QStringLiteral("Listas.dbf"))),
              (std::vector<QByteArray>{"LISID N11", "LISDESC C254"}));
    EXPECT_EQ(fieldNames(dir.file(QStringLiteral("DOCUMENT.dbf"))),
              (std::vector<QByteArray>{"DOCID N11", "DOCPATH C254"}));
    EXPECT_EQ(fieldNames(dir.file(QStringLiteral("LISDOC.dbf"))),
              (std::vector<QByteArray>{"LISID N11", "DOCID N11"}));
    for (const char* cpg : {"Listas.cpg", "DOCUMENT.cpg", "LISDOC.cpg"})
        EXPECT_EQ(dir.read(QString::fromLatin1(cpg)), "UTF-8");
    store.dtcListas().Refresh();
    EXPECT_EQ(store.dtcListas().recordset().RecordCount(), 0);
}

TEST(PlaylistStoreTest, ExistingTablesAreUsedWhateverTheirLetterCase) {
    TempDir dir;
    {
        PlaylistStore first(dir.path());
        melofon::test::addPlaylist(first, 1, QStringLiteral("Rock"));
    }
    ASSERT_TRUE(QFile::rename(dir.file(QStringLiteral("Listas.dbf")), dir.file(QStringLiteral("LISTAS.DBF"))));
    PlaylistStore store(dir.path());
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("Listas.dbf"))));
    store.dtcListas().Refresh();
    auto& rs = store.dtcListas().recordset();
    ASSERT_EQ(rs.RecordCount(), 1);
    EXPECT_EQ(rs.Fields("LisDesc").toText(), QStringLiteral("Rock"));
}

TEST(PlaylistStoreTest, UnreadableTableIsReportedByNameAndNothingIsTouched) {
    TempDir dir;
    { PlaylistStore created(dir.path()); }
    // Listas has what an interrupted append leaves, which an accepted start would mend.
    const QString listas = QStringLiteral("Listas.dbf");
    const QByteArray interrupted = dir.read(listas) + " 1";
    dir.write(listas, interrupted);
    const QByteArray garbage = "esto no es dBASE";
    ASSERT_TRUE(QFile::remove(dir.file(QStringLiteral("DOCUMENT.dbf"))));
    dir.write(QStringLiteral("DOCUMENT.DBF"), garbage);
    const QStringList files = QDir(dir.path()).entryList(QDir::Files);
    try {
        PlaylistStore store(dir.path());
        ADD_FAILURE() << "opened a store with a damaged table";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Kind::NotDbase);
        EXPECT_TRUE(e.message().contains(QStringLiteral("DOCUMENT.DBF"))) << e.message().toStdString();
    }
    EXPECT_EQ(dir.read(QStringLiteral("DOCUMENT.DBF")), garbage);
    EXPECT_EQ(dir.read(listas), interrupted);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), files);
    // The failed attempt let go of its lock.
    ASSERT_TRUE(QFile::remove(dir.file(QStringLiteral("DOCUMENT.DBF"))));
    EXPECT_NO_THROW(PlaylistStore(dir.path()).directory());
}

// A journal the start cannot complete (not ours, or naming records the tables do not
// hold) refuses the start, says which file and what to do, and changes no byte.
TEST(PlaylistStoreTest, AJournalThatCannotBeCompletedRefusesTheStartAndTouchesNothing) {
    const QString journal = QStringLiteral("Melofon-diario.txt");
    const struct {
        const char* what;
        std::function<QByteArray(const QByteArray&)> edit; // of a real journal
    } cases[] = {
        {"not a journal", [](const QByteArray&) { return QByteArray("hola\n"); }},
        {"cut short", [](const QByteArray& j) { return j.left(j.size() - 10); }},
        {"new records the table does not hold",
         [](const QByteArray& j) {
             QByteArray text = j.left(j.indexOf("fin "));
             text.replace("nuevas ", "nuevas 1");
             return text + "fin " + QByteArray::number(qulonglong(melofon::store::dbf::digest(
                                                           melofon::store::dbf::kDigestStart, text.constData(),
                                                           std::size_t(text.size()))),
                                                       16) +
                    '\n';
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        QByteArray written;
        {
            PlaylistStore store(dir.path());
            // Keep the journal of a real commit as it is the instant it is in place.
            struct KeepJournal : melofon::store::TableIo {
                QByteArray* copy;
                QString path;
                bool rename(const QString& from, const QString& to) override {
                    QFile f(from);
                    if (f.open(QIODevice::ReadOnly))
                        *copy = f.readAll();
                    return TableIo::rename(from, to);
                }
            } keep;
            keep.copy = &written;
            melofon::store::TableIo::install(&keep);
            {
                PlaylistStore::Batch batch(store);
                melofon::test::addPlaylist(store, 1, QStringLiteral("Rock"));
                melofon::test::addFile(store, 1, 1, QStringLiteral("/m\u00fasica/uno.mp3"));
            }
            melofon::store::TableIo::install(nullptr);
        }
        ASSERT_TRUE(written.startsWith("Melofon")) << written.toStdString();
        // Listas also has what an interrupted append leaves, which an accepted start would mend.
        dir.write(QStringLiteral("Listas.dbf"), dir.read(QStringLiteral("Listas.dbf")) + " 2");
        dir.write(journal, c.edit(written));
        dir.write(QStringLiteral("Melofon-diario.nuevo"), "a medias");
        std::map<QString, QByteArray> before;
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files))
            before[f] = dir.read(f);
        try {
            PlaylistStore store(dir.path());
            ADD_FAILURE() << "opened with a journal it cannot complete";
        } catch (const StoreError& e) {
            EXPECT_EQ(e.kind(), StoreError::Kind::UnusableJournal);
            EXPECT_TRUE(e.message().contains(journal) && e.message().contains(QStringLiteral("No se ha cambiado nada")))
                << e.message().toStdString();
        }
        std::map<QString, QByteArray> after;
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files))
            after[f] = dir.read(f);
        EXPECT_TRUE(after == before);
    }
}

TEST(PlaylistStoreTest, SecondCopyOnTheSameDirectoryIsRefusedUntilTheFirstCloses) {
    TempDir dir;
    auto first = std::make_unique<PlaylistStore>(dir.path());
    const QByteArray before = dir.read(QStringLiteral("Listas.dbf"));
    try {
        PlaylistStore second(dir.path());
        ADD_FAILURE() << "two stores on one directory";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Kind::AlreadyOpen);
        EXPECT_TRUE(e.message().contains(QStringLiteral("otra ventana"))) << e.message().toStdString();
    }
    EXPECT_EQ(dir.read(QStringLiteral("Listas.dbf")), before);
    first.reset();
    EXPECT_NO_THROW(PlaylistStore(dir.path()).directory());
}

TEST(PlaylistStoreTest, TablesStayBoundToTheirDirectoryWhenTheCurrentOneChanges) {
    TempDir dir;
    TempDir elsewhere;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    PlaylistStore store(QStringLiteral("."));
    QDir::setCurrent(elsewhere.path());
    auto& rs = store.dtcListas().recordset();
    rs.AddNew();
    rs.Fields("LisId") = 1;
    rs.Fields("LisDesc") = QStringLiteral("a");
    rs.Update();
    QDir::setCurrent(previous);
    EXPECT_EQ(store.directory(), QDir(dir.path()).absolutePath());
    EXPECT_EQ(DbfTable::open(dir.file(QStringLiteral("Listas.dbf")), DbfTable::Mode::ReadOnly)->rowCount(), 1u);
    EXPECT_TRUE(QDir(elsewhere.path()).entryList(QDir::Files).isEmpty());
}

TEST(PlaylistStoreTest, RowsOfABatchAreCountedOnlyWhenTheBatchEnds) {
    TempDir dir;
    PlaylistStore store(dir.path());
    const QString path = dir.file(QStringLiteral("DOCUMENT.dbf"));
    {
        PlaylistStore::Batch outer(store);
        {
            PlaylistStore::Batch inner(store);
            auto& rs = store.dtcDocumentos().recordset();
            rs.AddNew();
            rs.Fields("DocId") = 1;
            rs.Fields("DocPath") = QStringLiteral("/m\u00fasica/a.mp3");
            rs.Update();
        }
        EXPECT_EQ(DbfTable::open(path, DbfTable::Mode::ReadOnly)->rowCount(), 0u);
    }
    auto reader = DbfTable::open(path, DbfTable::Mode::ReadOnly);
    ASSERT_EQ(reader->rowCount(), 1u);
    EXPECT_EQ(reader->text(0, 1), QStringLiteral("/m\u00fasica/a.mp3"));
}

TEST(PlaylistStoreTest, TablesBesideTheProgramAreUsedThereElseTheDataDirectory) {
    TempDir program;
    TempDir data;
    const QString store = data.file(QStringLiteral("share/Melofon"));
    EXPECT_EQ(PlaylistStore::locate(program.path(), store), store);
    EXPECT_TRUE(QDir(store).exists());
    EXPECT_TRUE(QDir(program.path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(PlaylistStore::locate(program.path(), QStringLiteral("/proc/melofon")), QString());
    // Any one of the tables, in any letter case, keeps the store beside the program.
    program.write(QStringLiteral("lisdoc.DBF"), {});
    EXPECT_EQ(PlaylistStore::locate(program.path(), store), QDir(program.path()).absolutePath());
}

TEST(PlaylistStoreTest, TablesInAFolderThatCannotBeWrittenAreOpenedForReading) {
    TempDir dir;
    {
        PlaylistStore first(dir.path());
        melofon::test::addPlaylist(first, 1, QStringLiteral("Rock"));
    }
    const QByteArray before = dir.read(QStringLiteral("Listas.dbf"));
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    // Root ignores permissions but not the immutable attribute.
    bool immutable = false;
    if (::access(QFile::encodeName(dir.path()).constData(), W_OK) == 0)
        immutable = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dir.path()}) == 0;
    const auto restore = qScopeGuard([&] {
        if (immutable)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), dir.path()});
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (::access(QFile::encodeName(dir.path()).constData(), W_OK) == 0)
        GTEST_SKIP() << "cannot make a folder this user cannot write";

    PlaylistStore store(dir.path());
    EXPECT_FALSE(store.readOnlyReason().isEmpty());
    store.dtcListas().Refresh();
    EXPECT_EQ(store.dtcListas().recordset().Fields("LisDesc").toText(), QStringLiteral("Rock"));
    try {
        store.requireWritable();
        ADD_FAILURE() << "a read-only store accepts changes";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Kind::ReadOnly);
        EXPECT_TRUE(e.message().contains(QStringLiteral("no se pueden cambiar"))) << e.message().toStdString();
    }
    EXPECT_EQ(dir.read(QStringLiteral("Listas.dbf")), before);
}
