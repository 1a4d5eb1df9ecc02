#include "ui/list_box_widget.h"
#include "store/list_views.h"
#include "store/playlist_store.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using melofon::app::ListBoxWidget;
using melofon::store::ListId;
using melofon::store::PlaylistStore;
using melofon::store::StripItem;
using melofon::test::TempDir;

namespace {

QStringList rows(const ListBoxWidget& box) {
    QStringList out;
    for (int i = 0; i < box.ListCount(); ++i)
        out << box.List(i);
    return out;
}

class ListViewsTest : public ::testing::Test {
protected:
    ListViewsTest() : store(dir.path()), playlists(false, nullptr), files(true, nullptr) {}

    void add(melofon::store::DataSource& s, QByteArrayView idField, qint32 id, QByteArrayView other,
             const QVariant& value) {
        melofon::test::appendRow(s, idField, id, other, value);
        s.Refresh();
    }
    void playlist(qint32 id, const QString& name) { add(store.dtcListas(), "LisId", id, "LisDesc", name); }
    void file(qint32 lisId, qint32 docId, const QString& path) {
        add(store.dtcDocumentos(), "DocId", docId, "DocPath", path);
        add(store.dtcLisDoc(), "LisId", lisId, "DocId", docId);
    }
    void fill(ListId id) {
        melofon::store::LlenarDocumentos(files, id, store.dtcLisDoc(), store.dtcDocumentos());
    }

    TempDir dir;
    PlaylistStore store;
    ListBoxWidget playlists;
    ListBoxWidget files;
};

} // namespace

TEST_F(ListViewsTest, PlaylistsAreListedInStoredOrderWithNoneSelected) {
    store.dtcListas().Refresh();
    EXPECT_FALSE(melofon::store::LlenarListas(playlists, store.dtcListas()));
    EXPECT_EQ(playlists.ListCount(), 0);

    playlist(10, QStringLiteral("Rock - Clásico"));
    playlist(2, QStringLiteral("  "));
    playlist(7, QStringLiteral("Mi música favorita"));
    EXPECT_TRUE(melofon::store::LlenarListas(playlists, store.dtcListas()));
    EXPECT_EQ(rows(playlists), (QStringList{QStringLiteral("10 - Rock - Clásico"), QStringLiteral("2 - "),
                                            QStringLiteral("7 - Mi música favorita")}));
    EXPECT_EQ(playlists.ListIndex(), -1);
    EXPECT_EQ(playlists.SelCount(), 0);
    EXPECT_EQ(melofon::store::SelId(playlists), std::nullopt);

    playlists.setListIndex(0);
    EXPECT_EQ(melofon::store::SelId(playlists), 10) << "a name holding \" - \" keeps its id";
    EXPECT_EQ(playlists.SelCount(), 1);
    playlists.setListIndex(2);
    EXPECT_EQ(melofon::store::SelId(playlists), 7);
}

TEST_F(ListViewsTest, FilesFollowTheLinksStoredOrderAllChecked) {
    playlist(1, QStringLiteral("a"));
    playlist(2, QStringLiteral("b"));
    file(1, 1, QStringLiteral("/música/uno - dos-tres.mp3"));
    file(2, 2, QStringLiteral("/otra/lista.mid"));
    file(1, 3, QStringLiteral("/música/uno - dos-tres.mp3"));
    add(store.dtcLisDoc(), "LisId", 1, "DocId", 99); // a link to no file entry
    file(1, 4, QStringLiteral("C:\\Música\\Tema.MP3"));

    fill(1);
    EXPECT_EQ(rows(files), (QStringList{QStringLiteral("1 - /música/uno - dos-tres.mp3"),
                                        QStringLiteral("3 - /música/uno - dos-tres.mp3"),
                                        QStringLiteral("4 - C:\\Música\\Tema.MP3")}));
    EXPECT_EQ(files.SelCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(files.Selected(i));
    EXPECT_EQ(files.ListIndex(), -1);
    EXPECT_EQ(melofon::store::SelPathDocumento(files), QString());
    EXPECT_EQ(melofon::store::SelId(files), std::nullopt);

    files.setListIndex(1);
    EXPECT_EQ(melofon::store::SelId(files), 3);
    EXPECT_EQ(melofon::store::SelPathDocumento(files), QStringLiteral("/música/uno - dos-tres.mp3"));

    fill(std::nullopt);
    EXPECT_EQ(files.ListCount(), 0) << "no playlist selected";
    fill(3);
    EXPECT_EQ(files.ListCount(), 0) << "a playlist without files";
}

TEST_F(ListViewsTest, ARefillChecksEveryRowAgain) {
    playlist(1, QStringLiteral("a"));
    file(1, 1, QStringLiteral("/a.mp3"));
    file(1, 2, QStringLiteral("/b.mp3"));
    fill(1);
    files.setSelected(0, false);
    EXPECT_EQ(files.SelCount(), 1);
    fill(1);
    EXPECT_EQ(files.SelCount(), 2);
}

TEST(ListBoxWidgetTest, CurrentRowCanBeSetOnlyToARowAndSettingItClicks) {
    ListBoxWidget box(false, nullptr);
    QSignalSpy clicks(&box, &ListBoxWidget::Click);
    box.AddItems({QStringLiteral("1 - a"), QStringLiteral("2 - b")}, false);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_TRUE(box.setListIndex(1));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_FALSE(box.setListIndex(2));
    EXPECT_FALSE(box.setListIndex(-2));
    EXPECT_EQ(box.ListIndex(), 1);
    EXPECT_EQ(clicks.count(), 1);
    box.Clear();
    EXPECT_EQ(box.ListIndex(), -1);
    EXPECT_EQ(clicks.count(), 1) << "Clear is no click";
    EXPECT_EQ(box.List(5), QString());
    EXPECT_FALSE(box.Selected(5));
}

TEST(StripItemTest, CutsItemsOffTheFrontUntilTwoSeparatorsMeet) {
    const QString nul(QChar(0));
    QString text = QStringLiteral("A") + nul + QStringLiteral("B") + nul + nul;
    EXPECT_EQ(StripItem(text, nul), QStringLiteral("A"));
    EXPECT_EQ(StripItem(text, nul), QStringLiteral("B"));
    EXPECT_EQ(StripItem(text, nul), QString());
    EXPECT_TRUE(text.isEmpty());

    text = nul + QStringLiteral("x");
    EXPECT_EQ(StripItem(text, nul), QString());
    EXPECT_EQ(text, QStringLiteral("x"));

    // Separators far past a 16-bit position, letter case significant, no separator at all.
    text = QString(40000, QLatin1Char('a')) + QStringLiteral("|b");
    EXPECT_EQ(StripItem(text, QStringLiteral("|")).size(), 40000);
    EXPECT_EQ(text, QStringLiteral("b"));
    text = QStringLiteral("aXbx");
    EXPECT_EQ(StripItem(text, QStringLiteral("x")), QStringLiteral("aXb"));
    text = QStringLiteral("sin separador");
    EXPECT_EQ(StripItem(text, QStringLiteral("|")), QStringLiteral("sin separador"));
    EXPECT_TRUE(text.isEmpty());
    text = QStringLiteral("a||b");
    EXPECT_EQ(StripItem(text, QStringLiteral("||")), QStringLiteral("a||b")) << "a separator is one character";
}
