#include "store/playlist_store.h"
#include "support/temp_dir.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <map>

using melofon::store::DataSource;
using melofon::store::PlaylistStore;
using melofon::store::Recordset;
using melofon::store::StoreError;
using melofon::test::TempDir;

namespace {

// The program's append pattern: new id from the last row, AddNew, fields, Update, Refresh.
qint32 appendPlaylist(DataSource& source, const QString& name) {
    Recordset& rs = source.recordset();
    qint32 id = 1;
    if (rs.RecordCount() > 0) {
        rs.MoveLast();
        id = *rs.Fields("LisId").toInt32() + 1;
    }
    rs.AddNew();
    rs.Fields("LisId") = id;
    rs.Fields("LisDesc") = name;
    rs.Update();
    source.Refresh();
    return id;
}

std::vector<qint32> walkIds(Recordset& rs, const char* field) {
    std::vector<qint32> ids;
    if (rs.RecordCount() > 0)
        rs.MoveFirst();
    for (; !rs.Eof(); rs.MoveNext())
        ids.push_back(*rs.Fields(field).toInt32());
    return ids;
}

bool deleteId(Recordset& rs, qint32 id) {
    if (!rs.FindFirst("LisId", id))
        return false;
    rs.Delete();
    return true;
}

class DataSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = std::make_unique<PlaylistStore>(dir.path());
        for (DataSource* s : {&listas(), &store->dtcDocumentos(), &store->dtcLisDoc()})
            s->Refresh();
    }
    DataSource& listas() { return store->dtcListas(); }
    Recordset& rs() { return listas().recordset(); }
    void reopen() {
        store.reset();
        SetUp();
    }

    TempDir dir;
    std::unique_ptr<PlaylistStore> store;
};

} // namespace

TEST_F(DataSourceTest, NewIdsFollowTheLastRowSoOnlyAnIdDeletedFromTheEndComesBack) {
    EXPECT_EQ(rs().RecordCount(), 0);
    EXPECT_EQ(appendPlaylist(listas(), QStringLiteral("Mi música favorita")), 1);
    EXPECT_EQ(appendPlaylist(listas(), QStringLiteral("b")), 2);
    EXPECT_EQ(appendPlaylist(listas(), QStringLiteral("c")), 3);

    ASSERT_TRUE(deleteId(rs(), 3));
    EXPECT_EQ(appendPlaylist(listas(), QStringLiteral("d")), 3);

    ASSERT_TRUE(deleteId(rs(), 2));
    EXPECT_EQ(appendPlaylist(listas(), QStringLiteral("e")), 4);
    EXPECT_EQ(walkIds(rs(), "LisId"), (std::vector<qint32>{1, 3, 4}));

    reopen();
    EXPECT_EQ(walkIds(rs(), "LisId"), (std::vector<qint32>{1, 3, 4}));
    EXPECT_EQ(appendPlaylist(listas(), QStringLiteral("f")), 5);
}

TEST_F(DataSourceTest, AppendedRowIsSeenOnlyAfterRefresh) {
    appendPlaylist(listas(), QStringLiteral("a"));
    rs().AddNew();
    rs().Fields("LISID") = 2;
    rs().Fields("lisdesc") = QStringLiteral("b");
    rs().Update();
    EXPECT_EQ(rs().RecordCount(), 1);
    EXPECT_EQ(walkIds(rs(), "LisId"), std::vector<qint32>{1});
    EXPECT_FALSE(rs().FindFirst("LisId", 2));
    listas().Refresh();
    EXPECT_EQ(rs().RecordCount(), 2);
    EXPECT_EQ(walkIds(rs(), "LisId"), (std::vector<qint32>{1, 2}));
    EXPECT_TRUE(rs().FindFirst("LisId", 2));
}

TEST_F(DataSourceTest, DeleteKeepsThePositionUntilTheNextMoveAndTheRowNeverComesBack) {
    for (int i = 0; i < 4; ++i)
        appendPlaylist(listas(), QStringLiteral("p%1").arg(i + 1));
    rs().MoveFirst();
    rs().MoveNext();
    rs().Delete();
    EXPECT_FALSE(rs().Eof());
    try {
        (void)rs().Fields("LisDesc").Value();
        ADD_FAILURE() << "read a deleted row";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Kind::NoCurrentRow);
    }
    rs().MoveNext();
    EXPECT_EQ(rs().Fields("LisDesc").toText(), QStringLiteral("p3"));
    EXPECT_EQ(rs().RecordCount(), 3);
    EXPECT_EQ(walkIds(rs(), "LisId"), (std::vector<qint32>{1, 3, 4}));

    // Deleting inside a walk, the way every link of a file entry is removed.
    rs().MoveFirst();
    while (!rs().Eof()) {
        if (*rs().Fields("LisId").toInt32() != 3)
            rs().Delete();
        rs().MoveNext();
    }
    EXPECT_EQ(walkIds(rs(), "LisId"), std::vector<qint32>{3});
    EXPECT_EQ(rs().RecordCount(), 1);
    listas().Refresh();
    EXPECT_EQ(walkIds(rs(), "LisId"), std::vector<qint32>{3});
}

TEST_F(DataSourceTest, EmptyRowSetIsAtItsEndWhateverTheMove) {
    rs().MoveFirst();
    EXPECT_TRUE(rs().Eof());
    rs().MoveLast();
    EXPECT_TRUE(rs().Eof());
    rs().MoveNext();
    EXPECT_TRUE(rs().Eof());
    EXPECT_THROW(rs().Fields("LisId").Value(), StoreError);
    EXPECT_THROW(rs().Delete(), StoreError);
}

TEST_F(DataSourceTest, MisusedFieldsAndUpdatesFailWithoutWriting) {
    appendPlaylist(listas(), QStringLiteral("a"));
    const QByteArray before = dir.read(QStringLiteral("Listas.dbf"));
    rs().MoveFirst();
    EXPECT_THROW(rs().Fields("LisId") = 9, StoreError) << "write outside AddNew";
    EXPECT_THROW(rs().Update(), StoreError) << "Update without AddNew";
    EXPECT_THROW(rs().Fields("Nombre"), StoreError) << "unknown field";

    rs().AddNew();
    rs().Fields("LisId") = 2;
    rs().Fields("LisDesc") = QString(255, QLatin1Char('n'));
    try {
        rs().Update();
        ADD_FAILURE() << "a name longer than its field was stored";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Kind::TooLong);
        EXPECT_TRUE(e.message().contains(QStringLiteral("LISDESC"))) << e.message().toStdString();
    }
    EXPECT_EQ(dir.read(QStringLiteral("Listas.dbf")), before);
    // A move drops the refused row: the last row reads back as stored.
    rs().MoveLast();
    EXPECT_EQ(rs().Fields("LisId").toInt32(), 1);
    listas().Refresh();
    EXPECT_EQ(rs().RecordCount(), 1);
}

TEST_F(DataSourceTest, IdsCompareAsNumbersWhetherStoredAsNumbersOrText) {
    DataSource& docs = store->dtcDocumentos();
    Recordset& d = docs.recordset();
    for (const QString& path : {QStringLiteral("7"), QStringLiteral(" 12 "), QStringLiteral("7.0"),
                                QStringLiteral("x"), QStringLiteral("99999999999")}) {
        d.AddNew();
        d.Fields("DocId") = 7;
        d.Fields("DocPath") = path;
        d.Update();
    }
    docs.Refresh();
    std::vector<std::optional<qint32>> asIds;
    for (d.MoveFirst(); !d.Eof(); d.MoveNext()) {
        EXPECT_EQ(d.Fields("DocId").toInt32(), 7);
        asIds.push_back(d.Fields("DocPath").toInt32());
    }
    EXPECT_EQ(asIds, (std::vector<std::optional<qint32>>{7, 12, 7, std::nullopt, std::nullopt}));
}

// FindFirst/FindNext must land exactly where a walk from the first row would, through
// duplicates, deletions anywhere and rows appended before and after a Refresh.
TEST_F(DataSourceTest, FindAgreesWithALinearWalkThroughRandomEdits) {
    DataSource& links = store->dtcLisDoc();
    Recordset& l = links.recordset();
    PlaylistStore::Batch batch(*store); // one sync at the end keeps this fast
    QRandomGenerator rng(20261208);
    std::vector<std::pair<qint32, bool>> model; // (LisId, live) in stored order
    std::size_t visible = 0;

    const auto expectFinds = [&](qint32 id) {
        std::vector<std::size_t> expected;
        for (std::size_t r = 0; r < visible; ++r)
            if (model[r].second && model[r].first == id)
                expected.push_back(r);
        std::vector<std::size_t> found;
        for (bool ok = l.FindFirst("LisId", id); ok; ok = l.FindNext("LisId", id))
            found.push_back(std::size_t(*l.Fields("DocId").toInt32()));
        EXPECT_EQ(found, expected) << "id " << id;
        EXPECT_TRUE(l.Eof());
    };

    for (int step = 0; step < 3000; ++step) {
        const int action = int(rng.bounded(10));
        const qint32 id = qint32(rng.bounded(12));
        if (action < 6) {
            l.AddNew();
            l.Fields("LisId") = id;
            l.Fields("DocId") = qint32(model.size()); // the row's position, to check finds
            l.Update();
            model.emplace_back(id, true);
        } else if (action < 8) {
            if (l.FindFirst("LisId", id)) {
                for (int skip = int(rng.bounded(3)); skip > 0 && l.FindNext("LisId", id); --skip) {
                }
                if (!l.Eof()) {
                    model[std::size_t(*l.Fields("DocId").toInt32())].second = false;
                    l.Delete();
                }
            }
        } else if (action < 9) {
            links.Refresh();
            visible = model.size();
        } else {
            expectFinds(id);
        }
    }
    links.Refresh();
    visible = model.size();
    for (qint32 id = 0; id < 12; ++id)
        expectFinds(id);
}
