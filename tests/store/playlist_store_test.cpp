#include "store/playlist_store.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

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
        auto& rs = first.dtcListas().recordset();
        rs.AddNew();
        rs.Fields("LisId") = 1;
        rs.Fields("LisDesc") = QStringLiteral("Rock");
        rs.Update();
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
    const QByteArray garbage = "esto no es dBASE";
    dir.write(QStringLiteral("DOCUMENT.DBF"), garbage);
    try {
        PlaylistStore store(dir.path());
        ADD_FAILURE() << "opened a store with a damaged table";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Kind::NotDbase);
        EXPECT_TRUE(e.message().contains(QStringLiteral("DOCUMENT.DBF"))) << e.message().toStdString();
    }
    EXPECT_EQ(dir.read(QStringLiteral("DOCUMENT.DBF")), garbage);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("DOCUMENT.DBF")});
    // The failed attempt let go of its lock.
    ASSERT_TRUE(QFile::remove(dir.file(QStringLiteral("DOCUMENT.DBF"))));
    EXPECT_NO_THROW(PlaylistStore(dir.path()).directory());
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

TEST(PlaylistStoreTest, RowsOfABatchAreInTheFileBeforeTheBatchEnds) {
    TempDir dir;
    PlaylistStore store(dir.path());
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
        auto reader = DbfTable::open(dir.file(QStringLiteral("DOCUMENT.dbf")), DbfTable::Mode::ReadOnly);
        ASSERT_EQ(reader->rowCount(), 1u);
        EXPECT_EQ(reader->text(0, 1), QStringLiteral("/m\u00fasica/a.mp3"));
    }
}

TEST(PlaylistStoreTest, FirstWritableDirectoryIsChosen) {
    TempDir dir;
    const QString missing = dir.file(QStringLiteral("datos/Melofon"));
    EXPECT_EQ(PlaylistStore::chooseDirectory({QStringLiteral("/proc/melofon"), missing}), missing);
    EXPECT_TRUE(QDir(missing).exists());
    EXPECT_EQ(PlaylistStore::chooseDirectory({dir.path(), missing}), dir.path());
    EXPECT_EQ(PlaylistStore::chooseDirectory({QStringLiteral("/proc/melofon")}), QString());
}
