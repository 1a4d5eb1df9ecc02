#include "app/frm_principal.h"
#include "store/dbf_table.h"
#include "support/fake_player.h"
#include "support/scripted_dialogs.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string_view>

using melofon::app::frmPrincipal;
using melofon::editing::MessageBoxes;
using melofon::store::DbfTable;
using melofon::store::PlaylistStore;

namespace {

const QString kNul(QChar(0));

// The live rows of a table on disk, as "id text" lines (LISDOC: "lisId docId").
QStringList onDisk(const QString& path) {
    auto t = DbfTable::open(path, DbfTable::Mode::ReadOnly);
    QStringList rows;
    for (std::uint32_t r = 0; r < t->rowCount(); ++r)
        if (!t->isDeleted(r))
            rows << t->text(r, 0) + QLatin1Char(' ') + t->text(r, 1);
    return rows;
}

class EditingTest : public ::testing::Test {
protected:
    void SetUp() override { open(); }
    void open() {
        window.reset();
        store.reset();
        store = std::make_unique<PlaylistStore>(dir.path());
        window = std::make_unique<frmPrincipal>(*store, player, scripted.dialogs(), dir.path(), [] {});
        window->start();
    }
    QStringList listas() { return onDisk(dir.file(QStringLiteral("Listas.dbf"))); }
    QStringList documents() { return onDisk(dir.file(QStringLiteral("DOCUMENT.dbf"))); }
    QStringList links() { return onDisk(dir.file(QStringLiteral("LISDOC.dbf"))); }
    static QStringList rows(const melofon::app::ListBoxWidget& box) {
        QStringList out;
        for (int i = 0; i < box.ListCount(); ++i)
            out << box.List(i);
        return out;
    }
    QStringList playlistBox() { return rows(*window->lstListas); }
    QStringList fileBox() { return rows(*window->lstContenido); }

    void create(const QString& name) {
        scripted.input.answers.push_back(name);
        window->cmdNuevaLis->click();
    }
    void select(int row) { ASSERT_TRUE(window->lstListas->setListIndex(row)); }
    void add(const QString& choice) {
        scripted.files.choices.push_back(choice);
        window->cmdAgregarDoc->click();
    }
    void deletePlaylist(int answer) {
        scripted.messages.answers.push_back(answer);
        window->cmdEliminarLis->click();
    }
    void removeFile(int row, int answer) {
        window->lstContenido->setListIndex(row);
        scripted.messages.answers.push_back(answer);
        window->cmdEliminarDoc->click();
    }
    QString lastMessage() { return scripted.messages.calls.empty() ? QString() : scripted.messages.calls.back().prompt; }

    melofon::test::TempDir dir;
    melofon::test::ScriptedDialogs scripted;
    melofon::test::FakePlayer player;
    std::unique_ptr<PlaylistStore> store;
    std::unique_ptr<frmPrincipal> window;
};

} // namespace

TEST_F(EditingTest, CreatingPlaylistsAppendsThemWithNewIds) {
    scripted.input.answers.push_back(QString()); // cancelled
    window->cmdNuevaLis->click();
    EXPECT_TRUE(listas().isEmpty());
    ASSERT_EQ(scripted.input.calls.size(), 1u);
    EXPECT_EQ(scripted.input.calls[0].prompt, QStringLiteral("Nombre de la lista:"));
    EXPECT_EQ(scripted.input.calls[0].title, QStringLiteral("Nueva Lista"));
    EXPECT_EQ(scripted.input.calls[0].defaultText, QStringLiteral("Mi música favorita"));
    EXPECT_FALSE(window->cmdEliminarLis->isEnabled());

    window->cmdNuevaLis->click(); // the default name accepted
    EXPECT_TRUE(window->cmdEliminarLis->isEnabled());
    select(0);
    create(QStringLiteral("   "));
    create(QStringLiteral("Rock"));
    create(QStringLiteral("Rock"));
    EXPECT_EQ(playlistBox(), (QStringList{QStringLiteral("1 - Mi música favorita"), QStringLiteral("2 -    "),
                                         QStringLiteral("3 - Rock"), QStringLiteral("4 - Rock")}));
    EXPECT_EQ(window->lstListas->ListIndex(), 0) << "the selection stays";
    EXPECT_EQ(listas(), (QStringList{QStringLiteral("1 Mi música favorita"), QStringLiteral("2 "),
                                     QStringLiteral("3 Rock"), QStringLiteral("4 Rock")}));
    EXPECT_TRUE(scripted.messages.calls.empty());
}

TEST_F(EditingTest, DeletingAPlaylistTakesItsEntriesAndOnlyThem) {
    for (const char* name : {"uno", "dos", "tres"})
        create(QString::fromLatin1(name));
    select(0);
    add(QStringLiteral("/m/a.mp3"));
    add(QStringLiteral("/m/b.mp3"));
    select(1);
    add(QStringLiteral("/m/c.mp3"));
    add(QStringLiteral("/m/d.mp3"));
    add(QStringLiteral("/m/a.mp3"));
    select(0);
    add(QStringLiteral("/m/e.mp3"));

    deletePlaylist(MessageBoxes::vbNo);
    EXPECT_EQ(scripted.messages.calls.back().prompt, QStringLiteral("¿ Confirma que desea eliminar la Lista uno ?"));
    EXPECT_EQ(scripted.messages.calls.back().flags, 4);
    EXPECT_EQ(scripted.messages.calls.back().title, QString());
    EXPECT_EQ(listas().size(), 3);
    EXPECT_EQ(fileBox().size(), 3);

    deletePlaylist(MessageBoxes::vbYes);
    EXPECT_EQ(listas(), (QStringList{QStringLiteral("2 dos"), QStringLiteral("3 tres")}));
    EXPECT_EQ(documents(), (QStringList{QStringLiteral("3 /m/c.mp3"), QStringLiteral("4 /m/d.mp3"),
                                        QStringLiteral("5 /m/a.mp3")}));
    EXPECT_EQ(links(), (QStringList{QStringLiteral("2 3"), QStringLiteral("2 4"), QStringLiteral("2 5")}));
    EXPECT_EQ(window->lstListas->ListIndex(), -1);
    EXPECT_TRUE(fileBox().isEmpty());
    EXPECT_EQ(playlistBox(), (QStringList{QStringLiteral("2 - dos"), QStringLiteral("3 - tres")}));

    // The last row's id comes back; one from the middle leaves a gap.
    select(1);
    deletePlaylist(MessageBoxes::vbYes);
    create(QStringLiteral("otra"));
    EXPECT_EQ(listas(), (QStringList{QStringLiteral("2 dos"), QStringLiteral("3 otra")}));
    select(0);
    deletePlaylist(MessageBoxes::vbYes);
    EXPECT_TRUE(window->cmdEliminarLis->isEnabled());
    create(QStringLiteral("nueva"));
    EXPECT_EQ(listas(), (QStringList{QStringLiteral("3 otra"), QStringLiteral("4 nueva")}));
    EXPECT_TRUE(documents().isEmpty());

    // Nothing selected: nothing deleted, nothing said.
    const auto said = scripted.messages.calls.size();
    window->cmdEliminarLis->click();
    EXPECT_EQ(scripted.messages.calls.size(), said);
    select(0);
    deletePlaylist(MessageBoxes::vbYes);
    select(0);
    deletePlaylist(MessageBoxes::vbYes);
    EXPECT_FALSE(window->cmdEliminarLis->isEnabled());
    EXPECT_TRUE(listas().isEmpty());
}

TEST_F(EditingTest, AddingFilesChosenAloneOrTogether) {
    window->cmdAgregarDoc->click();
    EXPECT_EQ(lastMessage(), QStringLiteral("Seleccione primero una lista de reproducción."));
    EXPECT_EQ(scripted.messages.calls.back().title, QStringLiteral("Atención"));
    EXPECT_TRUE(scripted.files.shown.empty()) << "no dialog without a playlist";

    create(QStringLiteral("a"));
    create(QStringLiteral("b"));
    select(1);
    add(QStringLiteral("/home/Ana/Música/Tema.MP3"));
    ASSERT_EQ(scripted.files.shown.size(), 1u);
    const auto& first = scripted.files.shown[0];
    EXPECT_EQ(first.filter, QStringLiteral("MP3 (*.MP3)|*.MP3| MID (*.MID)|*.MID| WAV (*.WAV)|*.WAV;"));
    EXPECT_EQ(first.flags, 524800);
    EXPECT_EQ(first.title, QStringLiteral("Seleccione un archivo para agregar a la lista"));
    EXPECT_TRUE(window->sDirectorio.isEmpty());

    add(QStringLiteral("/home/Ana/Discos") + kNul + QStringLiteral("B.MP3") + kNul + QStringLiteral("A b.wav"));
    add(QString()); // cancelled
    add(QStringLiteral("/home/Ana/Música/Tema.MP3"));
    EXPECT_EQ(window->sDirectorio, QStringLiteral("/home/Ana/Discos"));
    EXPECT_EQ(scripted.files.shown.back().initDir, QStringLiteral("/home/Ana/Discos"));
    const QStringList expected = {QStringLiteral("1 - /home/Ana/Música/Tema.MP3"), QStringLiteral("2 - /home/Ana/Discos/B.MP3"),
                                  QStringLiteral("3 - /home/Ana/Discos/A b.wav"), QStringLiteral("4 - /home/Ana/Música/Tema.MP3")};
    EXPECT_EQ(fileBox(), expected);
    EXPECT_EQ(window->lstContenido->SelCount(), 4) << "every new entry is checked";
    EXPECT_EQ(links(), (QStringList{QStringLiteral("2 1"), QStringLiteral("2 2"), QStringLiteral("2 3"), QStringLiteral("2 4")}));
    EXPECT_EQ(documents().first(), QStringLiteral("1 /home/Ana/Música/Tema.MP3"));

    // A root directory is not doubled.
    add(QStringLiteral("/") + kNul + QStringLiteral("x.mid") + kNul + QStringLiteral("y.mid"));
    EXPECT_EQ(documents().last(), QStringLiteral("6 /y.mid"));
}

TEST_F(EditingTest, RemovingAFileEntryKeepsTheOthersInOrder) {
    window->cmdEliminarDoc->click();
    EXPECT_EQ(lastMessage(), QStringLiteral("No hay nada para borrar"));
    EXPECT_EQ(scripted.messages.calls.back().title, QStringLiteral("Atención"));

    create(QStringLiteral("a"));
    select(0);
    for (const char* f : {"/m/1-uno.mp3", "/m/2.mp3", "/m/3.mp3"})
        add(QString::fromLatin1(f));
    window->lstContenido->setSelected(2, false);

    removeFile(1, MessageBoxes::vbNo);
    EXPECT_EQ(lastMessage(), QStringLiteral("¿ Confirma que desea quitar de la lista el Documento /m/2.mp3 ?"));
    EXPECT_EQ(fileBox().size(), 3);

    removeFile(1, MessageBoxes::vbYes);
    EXPECT_EQ(fileBox(), (QStringList{QStringLiteral("1 - /m/1-uno.mp3"), QStringLiteral("3 - /m/3.mp3")}));
    EXPECT_EQ(window->lstContenido->SelCount(), 2) << "the refill checks every row";
    EXPECT_EQ(documents(), (QStringList{QStringLiteral("1 /m/1-uno.mp3"), QStringLiteral("3 /m/3.mp3")}));
    EXPECT_EQ(links(), (QStringList{QStringLiteral("1 1"), QStringLiteral("1 3")}));

    // No current entry: nothing removed, nothing said.
    window->lstContenido->setListIndex(-1);
    const auto said = scripted.messages.calls.size();
    window->cmdEliminarDoc->click();
    EXPECT_EQ(scripted.messages.calls.size(), said);
    EXPECT_EQ(documents().size(), 2);
}

TEST_F(EditingTest, TextsTheTablesCannotHoldAreRefusedWithANotice) {
    const QString tooLong = QString(255, QLatin1Char('n'));
    create(tooLong);
    EXPECT_TRUE(listas().isEmpty());
    EXPECT_TRUE(playlistBox().isEmpty());
    EXPECT_EQ(scripted.messages.calls.back().title, QStringLiteral("Atención"));
    EXPECT_TRUE(lastMessage().contains(tooLong));

    create(QStringLiteral("a"));
    select(0);
    const QString longName = QString(250, QLatin1Char('x')) + QStringLiteral(".mp3");
    add(QStringLiteral("/m") + kNul + QStringLiteral("bien.mp3") + kNul + longName + kNul + QStringLiteral("también.mp3"));
    EXPECT_EQ(fileBox(), (QStringList{QStringLiteral("1 - /m/bien.mp3"), QStringLiteral("2 - /m/también.mp3")}));
    EXPECT_EQ(scripted.messages.calls.back().title, QStringLiteral("Atención"));
    EXPECT_TRUE(lastMessage().contains(longName));
    EXPECT_EQ(documents().size(), 2);
}

TEST_F(EditingTest, IdsPastTheLargestAreRefused) {
    melofon::test::addPlaylist(*store, 2147483647, QStringLiteral("última"));
    melofon::test::addFile(*store, 2147483647, 2147483647, QStringLiteral("/m/último.mp3"));
    open();
    create(QStringLiteral("otra"));
    EXPECT_EQ(listas().size(), 1);
    EXPECT_EQ(scripted.messages.calls.back().title, QStringLiteral("Atención"));
    EXPECT_TRUE(lastMessage().contains(QStringLiteral("2147483647")));
    select(0);
    add(QStringLiteral("/m/nuevo.mp3"));
    EXPECT_EQ(documents().size(), 1);
    EXPECT_TRUE(lastMessage().contains(QStringLiteral("/m/nuevo.mp3")));
}

TEST_F(EditingTest, TablesLeftBetweenTwoWritesOfACommandStillListCorrectly) {
    // Links whose entries were already deleted (5 was the last one, so the next entry
    // would get its id back), and an entry whose link was never written.
    melofon::test::addPlaylist(*store, 1, QStringLiteral("a"));
    melofon::test::addFile(*store, 1, 1, QStringLiteral("/m/1.mp3"));
    melofon::test::appendRow(store->dtcLisDoc(), "LisId", 1, "DocId", 2);
    melofon::test::appendRow(store->dtcDocumentos(), "DocId", 3, "DocPath", QStringLiteral("/m/huérfano.mp3"));
    melofon::test::addFile(*store, 1, 4, QStringLiteral("/m/4.mp3"));
    melofon::test::appendRow(store->dtcLisDoc(), "LisId", 1, "DocId", 5);
    open();
    select(0);
    EXPECT_EQ(fileBox(), (QStringList{QStringLiteral("1 - /m/1.mp3"), QStringLiteral("4 - /m/4.mp3")}));
    add(QStringLiteral("/m/6.mp3"));
    EXPECT_EQ(fileBox().last(), QStringLiteral("6 - /m/6.mp3"));
    removeFile(0, MessageBoxes::vbYes);
    EXPECT_EQ(fileBox(), (QStringList{QStringLiteral("4 - /m/4.mp3"), QStringLiteral("6 - /m/6.mp3")}));
}

// Tables written elsewhere, in any order, get new ids that no live row and no link
// already holds; in rising order the rule stays the last id plus one.
TEST_F(EditingTest, NewIdsRepeatNoLiveIdAndInheritNoLink) {
    struct Case {
        const char* what;
        std::vector<qint32> listas;                   // LisIds in stored order
        std::vector<std::pair<qint32, qint32>> links; // (LisId, DocId), each with its entry
        qint32 newLisId;
        qint32 newDocId; // of a file added to the first playlist
    };
    const Case cases[] = {
        {"rising order", {1, 2, 3}, {{1, 1}, {3, 2}}, 4, 3},
        {"ids out of order", {5, 9, 4}, {{5, 7}, {9, 3}}, 10, 8},
        {"a link to a playlist not yet made", {1, 2, 3}, {{4, 1}, {1, 2}}, 5, 3},
        {"links past the last entry", {1}, {{1, 1}, {1, 2}}, 2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        window.reset();
        store.reset();
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.file(f));
        open();
        for (const qint32 id : c.listas)
            melofon::test::addPlaylist(*store, id, QStringLiteral("l%1").arg(id));
        for (const auto& [lisId, docId] : c.links)
            melofon::test::addFile(*store, lisId, docId, QStringLiteral("/m/%1.mp3").arg(docId));
        if (std::string_view(c.what) == "links past the last entry")
            store->dtcDocumentos().table().markDeleted(1); // its link stays behind
        open();
        create(QStringLiteral("nueva"));
        EXPECT_EQ(playlistBox().last(), QStringLiteral("%1 - nueva").arg(c.newLisId));
        select(int(playlistBox().size()) - 1);
        EXPECT_TRUE(fileBox().isEmpty()) << "the new playlist lists nothing";
        select(0);
        add(QStringLiteral("/m/nuevo.mp3"));
        EXPECT_EQ(fileBox().last(), QStringLiteral("%1 - /m/nuevo.mp3").arg(c.newDocId));
    }
}

// After every command, and once more as read at start-up, each find by id lands on the
// rows a walk of the table from its first row finds, and the greatest id is the walk's.
TEST_F(EditingTest, IdIndexesStayRightThroughEveryCommand) {
    const auto expectIndexesRight = [&](const char* step) {
        SCOPED_TRACE(step);
        for (melofon::store::DataSource* source : {&store->dtcListas(), &store->dtcDocumentos(), &store->dtcLisDoc()}) {
            DbfTable& t = source->table();
            for (int f = 0; f < int(t.fields().size()); ++f) {
                if (!t.fields()[std::size_t(f)].isNumeric())
                    continue;
                std::optional<qint32> greatest;
                for (qint32 id = 0; id <= 12; ++id) {
                    std::vector<std::uint32_t> walked, found;
                    for (std::uint32_t r = 0; r < t.rowCount(); ++r)
                        if (!t.isDeleted(r) && t.number(r, f) == double(id))
                            walked.push_back(r);
                    for (auto r = t.findId(f, id, 0, t.rowCount()); r != DbfTable::npos;
                         r = t.findId(f, id, r + 1, t.rowCount()))
                        found.push_back(r);
                    EXPECT_EQ(found, walked) << t.path().toStdString() << " field " << f << " id " << id;
                    if (!walked.empty())
                        greatest = id;
                }
                EXPECT_EQ(t.greatestId(f), greatest) << t.path().toStdString() << " field " << f;
            }
        }
    };
    // Playlist 3 before 2 and its links interleaved, as another program may leave them.
    melofon::test::addPlaylist(*store, 3, QStringLiteral("tres"));
    melofon::test::addPlaylist(*store, 2, QStringLiteral("dos"));
    melofon::test::addFile(*store, 2, 1, QStringLiteral("/m/1.mp3"));
    melofon::test::addFile(*store, 3, 2, QStringLiteral("/m/2.mp3"));
    melofon::test::addFile(*store, 2, 3, QStringLiteral("/m/3.mp3"));
    open();
    struct Step {
        const char* what;
        std::function<void()> run;
    };
    const Step steps[] = {
        {"opened", [] {}},
        {"new playlist", [&] { create(QStringLiteral("cuatro")); }},
        {"one file added", [&] { select(2), add(QStringLiteral("/m/4.mp3")); }},
        {"files added together",
         [&] { select(1), add(QStringLiteral("/m") + kNul + QStringLiteral("5.mp3") + kNul + QStringLiteral("6.mp3")); }},
        {"a file removed from the middle", [&] { select(1), removeFile(1, MessageBoxes::vbYes); }},
        {"the last file removed", [&] { select(1), removeFile(int(fileBox().size()) - 1, MessageBoxes::vbYes); }},
        {"a playlist deleted", [&] { select(0), deletePlaylist(MessageBoxes::vbYes); }},
        {"a playlist made again", [&] { create(QStringLiteral("otra")); }},
        {"a file added after the deletions", [&] { select(0), add(QStringLiteral("/m/7.mp3")); }},
        {"reopened", [&] { open(); }},
        {"every playlist deleted",
         [&] {
             while (!playlistBox().isEmpty())
                 select(0), deletePlaylist(MessageBoxes::vbYes);
         }},
    };
    for (const Step& step : steps) {
        step.run();
        expectIndexesRight(step.what);
    }
    EXPECT_TRUE(documents().isEmpty());
}
