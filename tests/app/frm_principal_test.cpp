#include "about/frm_about.h"
#include "app/frm_principal.h"
#include "support/fake_player.h"
#include "support/scripted_dialogs.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <set>

using melofon::app::frmPrincipal;
using melofon::store::PlaylistStore;
using melofon::store::StoreError;
using melofon::test::ScriptedMessageBoxes;
using melofon::test::TempDir;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void addPlaylist(qint32 id, const QString& name) { melofon::test::addPlaylist(*store, id, name); }
    void addFile(qint32 lisId, qint32 docId, const QString& path) {
        melofon::test::addFile(*store, lisId, docId, path);
    }
    frmPrincipal& open() {
        window = std::make_unique<frmPrincipal>(*store, player, scripted.dialogs(), programDir.path(), [this] { ++ended; });
        window->start();
        return *window;
    }
    template <class W = QWidget>
    W* control(const char* name) {
        return window->findChild<W*>(QString::fromUtf8(name));
    }
    QStringList rows(const melofon::app::ListBoxWidget& box) {
        QStringList out;
        for (int i = 0; i < box.ListCount(); ++i)
            out << box.List(i);
        return out;
    }

    TempDir dataDir;
    TempDir programDir;
    std::unique_ptr<PlaylistStore> store = std::make_unique<PlaylistStore>(dataDir.path());
    melofon::test::ScriptedDialogs scripted;
    ScriptedMessageBoxes& messages = scripted.messages;
    melofon::test::FakePlayer player;
    int ended = 0;
    std::unique_ptr<frmPrincipal> window;
};

struct Layout {
    const char* name;
    const char* kind;
    const char* container;
    int left, top, width, height; // twips
    int tab;                      // tab index
    const char* text;
    const char* tip;
};

// The window as drawn: every control, its container, place, tab index, caption and tooltip.
const Layout kLayout[] = {
    {"fraInformación", "QGroupBox", "frmPrincipal", 0, 0, 9495, 735, 9, "Información", ""},
    {"lblTiempo", "QLabel", "fraInformación", 240, 360, 615, 255, 14, "Tiempo:", ""},
    {"hsTiempo", "QScrollBar", "fraInformación", 960, 360, 1815, 255, 10, "", ""},
    {"lblMinTranscurridos", "QLabel", "fraInformación", 2880, 360, 255, 255, 29, "00", ""},
    {"lblSeparador", "QLabel", "fraInformación", 3200, 360, 135, 255, 13, ":", ""},
    {"lblSegTranscurridos", "QLabel", "fraInformación", 3360, 360, 255, 255, 30, "00", ""},
    {"lblMinDuracion", "QLabel", "fraInformación", 3720, 360, 255, 255, 31, "00", ""},
    {"lblSeparador2", "QLabel", "fraInformación", 3960, 360, 135, 255, 12, ":", ""},
    {"lblSegDuracion", "QLabel", "fraInformación", 4080, 360, 255, 255, 32, "00", ""},
    {"lblVolumen", "QLabel", "fraInformación", 5400, 360, 735, 255, 15, "Volumen:", ""},
    {"hsVolumen", "QScrollBar", "fraInformación", 6120, 360, 1815, 255, 11, "", ""},
    {"fraListas", "QGroupBox", "frmPrincipal", 0, 840, 9495, 4935, 1, "Listas de reproducción:", ""},
    {"cmdNuevaLis", "QToolButton", "fraListas", 120, 240, 1095, 855, 4, "Nueva", "Crear una nueva lista de reproducción."},
    {"cmdEliminarLis", "QToolButton", "fraListas", 1440, 240, 1095, 855, 2, "Eliminar", "Eliminar la lista de reproducción seleccionada."},
    {"cmdPlay", "QToolButton", "fraListas", 2760, 480, 435, 435, 7, "", "Comenzar a reproducir la lista seleccionada."},
    {"cmdPause", "QToolButton", "fraListas", 3240, 480, 435, 435, 8, "", "Hacer Pausa/Reanudar "},
    {"cmdStop", "QToolButton", "fraListas", 3720, 480, 435, 435, 6, "", "Detener la reproducción."},
    {"chkContinuado", "QCheckBox", "fraListas", 4680, 240, 1215, 255, 25, "Continuado", "Reproducción continua"},
    {"chkAleatorio", "QCheckBox", "fraListas", 4680, 600, 1215, 255, 26, "Aleatorio", "Orden de reproducción aleatorio"},
    {"chkTodas", "QCheckBox", "fraListas", 4680, 960, 1695, 195, 27, "Todas las listas", "Reproducir todas las listas"},
    {"cmdAcerca", "QToolButton", "fraListas", 6960, 240, 1095, 855, 28, "Acerca de", ""},
    {"cmdSalir", "QToolButton", "fraListas", 8280, 240, 1095, 855, 24, "Salir", "Salir del programa"},
    {"lstListas", "QListWidget", "fraListas", 120, 1200, 9255, 1200, 5, "", ""},
    {"cmdAgregarDoc", "QToolButton", "fraListas", 120, 2520, 1095, 855, 22, "Agregar", "Agregar un archivo de sonido a la lista de reproducción seleccionada."},
    {"cmdEliminarDoc", "QToolButton", "fraListas", 1440, 2520, 1095, 855, 23, "Quitar", "Quitar el archivo seleccionado de la lista de reproducción."},
    {"lstContenido", "QListWidget", "fraListas", 120, 3480, 9255, 1155, 3, "", ""},
    {"fraArchivo", "QGroupBox", "frmPrincipal", 0, 5880, 9495, 855, 16, "Archivo de sonido", ""},
    {"txtArchivo", "QLineEdit", "fraArchivo", 120, 360, 6495, 315, 17, "", ""},
    {"cmdExaminar", "QPushButton", "fraArchivo", 6840, 360, 975, 315, 18, "Examinar", ""},
    {"cmdPlayArchivo", "QToolButton", "fraArchivo", 8040, 360, 315, 315, 20, "", ""},
    {"cmdPauseArchivo", "QToolButton", "fraArchivo", 8520, 360, 315, 315, 21, "", " Hacer Pausa/Reanudar "},
    {"cmdStopArchivo", "QToolButton", "fraArchivo", 9000, 360, 315, 315, 19, "", ""},
};

// Whether a control stands where it was drawn, to the nearest pixel of 15 twips.
bool inPlace(const QRect& pixels, const Layout& c) {
    const auto near = [](int px, int twips) { return std::abs(px * 15 - twips) <= 7; };
    return near(pixels.x(), c.left) && near(pixels.y(), c.top) && near(pixels.width(), c.width) &&
           near(pixels.height(), c.height);
}

// Anti-aliased text and shapes blend at their edges; their cores keep the colour.
bool isTeal(const QColor& c) {
    return c.red() < 20 && std::abs(c.green() - 64) < 12 && std::abs(c.blue() - 64) < 12;
}
bool isWhite(const QColor& c) {
    return c.alpha() > 200 && c.red() > 240 && c.green() > 240 && c.blue() > 240;
}

QString textOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return {};
}

} // namespace

TEST_F(MainWindowTest, EveryControlHasItsKindContainerPlaceCaptionAndTooltip) {
    open();
    std::set<QString> accessibleNames;
    EXPECT_EQ(window->objectName(), QStringLiteral("frmPrincipal"));
    for (const Layout& c : kLayout) {
        SCOPED_TRACE(c.name);
        QWidget* w = control(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.kind)) << w->metaObject()->className();
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromUtf8(c.container));
        EXPECT_TRUE(inPlace(w->geometry(), c)) << "at " << w->x() << ", " << w->y() << ", " << w->width() << ", "
                                               << w->height() << " pixels";
        EXPECT_EQ(textOf(w), QString::fromUtf8(c.text));
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(c.tip));
        // What has no caption has a name of its own for screen readers.
        if (!*c.text) {
            EXPECT_FALSE(w->accessibleName().isEmpty());
            EXPECT_TRUE(accessibleNames.insert(w->accessibleName()).second) << "named twice";
        }
    }
    // Members are the same objects as the named children.
    EXPECT_EQ(window->fraInformación, control("fraInformación"));
    EXPECT_EQ(window->lstContenido, control("lstContenido"));
    EXPECT_EQ(window->cmdStopArchivo, control("cmdStopArchivo"));
    EXPECT_EQ(window->Timer1->objectName(), QStringLiteral("Timer1"));
}

// Tab goes from control to control by ascending tab index, past labels, frames and
// disabled controls, and from the last back to the first.
TEST_F(MainWindowTest, TabVisitsTheControlsByTabIndex) {
    addPlaylist(1, QStringLiteral("a")); // "Eliminar" enabled
    open();
    QApplication::setActiveWindow(window.get());
    std::vector<const Layout*> byTab;
    for (const Layout& c : kLayout)
        byTab.push_back(&c);
    std::sort(byTab.begin(), byTab.end(), [](const Layout* a, const Layout* b) { return a->tab < b->tab; });
    for (const bool singleFileButtons : {false, true}) {
        // As while a single file plays, when its strip's buttons are enabled.
        for (QWidget* b : {window->cmdPlayArchivo, window->cmdPauseArchivo, window->cmdStopArchivo})
            b->setEnabled(singleFileButtons);
        QStringList expected;
        for (const Layout* c : byTab) {
            const std::string_view kind = c->kind;
            if (kind != "QLabel" && kind != "QGroupBox" && control(c->name)->isEnabled())
                expected << QString::fromUtf8(c->name);
        }
        ASSERT_EQ(expected.size(), singleFileButtons ? 21 : 18);
        // From the last control round to it again.
        control(expected.last().toUtf8().constData())->setFocus(Qt::TabFocusReason);
        QStringList visited;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        EXPECT_EQ(visited, expected) << "with the single-file buttons " << (singleFileButtons ? "enabled" : "disabled");
    }
}

TEST_F(MainWindowTest, InitialStateAfterStartUp) {
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Melofon"));
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(window->size(), QSize(632, 453));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->chkContinuado->isChecked());
    EXPECT_FALSE(window->chkAleatorio->isChecked());
    EXPECT_FALSE(window->chkTodas->isChecked());
    EXPECT_TRUE(window->txtArchivo->text().isEmpty());
    EXPECT_FALSE(window->cmdPlayArchivo->isEnabled());
    EXPECT_FALSE(window->cmdPauseArchivo->isEnabled());
    EXPECT_FALSE(window->cmdStopArchivo->isEnabled());
    for (QWidget* b : {window->cmdPlay, window->cmdPause, window->cmdStop, window->cmdNuevaLis,
                       window->cmdAgregarDoc, window->cmdEliminarDoc, window->cmdAcerca, window->cmdSalir})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_EQ(window->hsVolumen->minimum(), -10000);
    EXPECT_EQ(window->hsVolumen->maximum(), 0);
    EXPECT_EQ(window->hsTiempo->maximum(), 100);
    EXPECT_EQ(window->hsVolumen->singleStep(), 100);
    EXPECT_EQ(window->hsVolumen->pageStep(), 1000);
    EXPECT_EQ(window->hsTiempo->singleStep(), 1);
    EXPECT_EQ(window->hsTiempo->pageStep(), 10);
    EXPECT_TRUE(window->Timer1->isActive());
    EXPECT_EQ(window->Timer1->interval(), 1000);
    EXPECT_TRUE(window->sDirectorio.isEmpty());
    EXPECT_FALSE(window->Detenido);

    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
}

TEST_F(MainWindowTest, LooksAsDrawn) {
    open();
    for (auto* box : {window->lstListas, window->lstContenido})
        EXPECT_EQ(box->palette().color(QPalette::Base), QColor(224, 224, 224));
    const bool impact = QFontDatabase::hasFamily(QStringLiteral("Impact"));
    const struct {
        QLabel* label;
        QColor color;
    } timeLabels[] = {{window->lblMinTranscurridos, QColor(0, 128, 0)}, {window->lblSeparador, QColor(0, 128, 0)},
                      {window->lblSegTranscurridos, QColor(0, 128, 0)}, {window->lblMinDuracion, QColor(192, 0, 0)},
                      {window->lblSeparador2, QColor(192, 0, 0)}, {window->lblSegDuracion, QColor(192, 0, 0)}};
    for (const auto& t : timeLabels) {
        SCOPED_TRACE(t.label->objectName().toStdString());
        EXPECT_EQ(t.label->palette().color(QPalette::WindowText), t.color);
        EXPECT_DOUBLE_EQ(t.label->font().pointSizeF(), 8.25);
        EXPECT_EQ(t.label->font().family(), impact ? QStringLiteral("Impact") : QStringLiteral("DejaVu Sans Condensed"));
        EXPECT_EQ(t.label->font().bold(), !impact);
    }
    EXPECT_NE(window->lblTiempo->palette().color(QPalette::WindowText), QColor(0, 64, 64));

    // The frame captions are drawn in dark teal.
    for (QGroupBox* f : {window->fraInformación, window->fraListas, window->fraArchivo}) {
        const QImage image = f->grab(QRect(0, 0, 120, 14)).toImage();
        bool teal = false;
        for (int y = 0; y < image.height() && !teal; ++y)
            for (int x = 0; x < image.width() && !teal; ++x)
                teal = isTeal(image.pixelColor(x, y));
        EXPECT_TRUE(teal) << f->objectName().toStdString();
    }

    for (QToolButton* b : {window->cmdNuevaLis, window->cmdEliminarLis, window->cmdAcerca, window->cmdSalir,
                           window->cmdAgregarDoc, window->cmdEliminarDoc}) {
        EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_EQ(b->iconSize(), QSize(32, 32));
        EXPECT_FALSE(b->icon().isNull());
    }
    // Play and stop carry their own disabled image: a dark grey glyph over a white shadow.
    for (QToolButton* b : {window->cmdPlay, window->cmdStop, window->cmdPlayArchivo, window->cmdStopArchivo}) {
        SCOPED_TRACE(b->objectName().toStdString());
        const QSize size = b->iconSize();
        const QImage normal = b->icon().pixmap(size, QIcon::Normal).toImage();
        const QImage disabled = b->icon().pixmap(size, QIcon::Disabled).toImage();
        const QPoint centre(size.width() / 2, size.height() / 2);
        EXPECT_EQ(normal.pixelColor(centre), QColor(Qt::black));
        EXPECT_EQ(disabled.pixelColor(centre), QColor(64, 64, 64));
        bool whiteShadow = false;
        for (int y = 0; y < disabled.height(); ++y)
            for (int x = 0; x < disabled.width(); ++x)
                whiteShadow = whiteShadow || isWhite(disabled.pixelColor(x, y));
        EXPECT_TRUE(whiteShadow);
        // Drawn at the screen's pixel density, not scaled up from one size.
        EXPECT_EQ(b->icon().pixmap(size, 2.0, QIcon::Disabled).size(), size * 2);
    }
}

TEST_F(MainWindowTest, StartUpFillsThePlaylistBoxBeforeTheRestOpensAndTheWindowShows) {
    addPlaylist(1, QStringLiteral("a"));
    addFile(1, 1, QStringLiteral("/a.mp3"));
    window = std::make_unique<frmPrincipal>(*store, player, scripted.dialogs(), programDir.path(), [] {});
    struct {
        bool seen = false, visible = true, timer = true;
        int volumeMinimum = -1, documents = -1;
    } atFill;
    QObject::connect(window->lstListas->model(), &QAbstractItemModel::rowsInserted, [&] {
        atFill = {true, window->isVisible(), window->Timer1->isActive(), window->hsVolumen->minimum(),
                  store->dtcDocumentos().recordset().RecordCount()};
    });
    window->start();
    ASSERT_TRUE(atFill.seen);
    EXPECT_FALSE(atFill.visible);
    EXPECT_FALSE(atFill.timer);
    EXPECT_EQ(atFill.volumeMinimum, 0) << "the volume range is set after the fill";
    EXPECT_EQ(atFill.documents, 0) << "DOCUMENT opens after the fill";
    EXPECT_EQ(store->dtcDocumentos().recordset().RecordCount(), 1);
    EXPECT_EQ(store->dtcLisDoc().recordset().RecordCount(), 1);
    EXPECT_TRUE(window->Timer1->isActive());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, EmptyStoreGivesEmptyBoxesAndNoDelete) {
    open();
    EXPECT_EQ(window->lstListas->ListCount(), 0);
    EXPECT_EQ(window->lstContenido->ListCount(), 0);
    EXPECT_FALSE(window->cmdEliminarLis->isEnabled());
}

TEST_F(MainWindowTest, PlaylistsShowInStoredOrderAndSelectingOneFillsTheFileBox) {
    addPlaylist(3, QStringLiteral("Tres"));
    addPlaylist(10, QStringLiteral("Diez - con guion"));
    addFile(10, 1, QStringLiteral("/m/a-b.mp3"));
    addFile(3, 2, QStringLiteral("/m/c.wav"));
    addFile(10, 3, QStringLiteral("/m/a-b.mp3"));
    open();
    EXPECT_TRUE(window->cmdEliminarLis->isEnabled());
    EXPECT_EQ(rows(*window->lstListas), (QStringList{QStringLiteral("3 - Tres"), QStringLiteral("10 - Diez - con guion")}));
    EXPECT_EQ(window->lstListas->ListIndex(), -1);
    EXPECT_EQ(window->lstContenido->ListCount(), 0);

    QTest::mouseClick(window->lstListas->viewport(), Qt::LeftButton, {},
                      window->lstListas->visualItemRect(window->lstListas->item(1)).center());
    EXPECT_EQ(window->SelIdLista(), 10);
    EXPECT_EQ(rows(*window->lstContenido), (QStringList{QStringLiteral("1 - /m/a-b.mp3"), QStringLiteral("3 - /m/a-b.mp3")}));
    EXPECT_EQ(window->lstContenido->SelCount(), 2);

    // Unchecked marks come back checked after switching playlists and back.
    window->lstContenido->setSelected(0, false);
    window->lstListas->setListIndex(0);
    EXPECT_EQ(rows(*window->lstContenido), QStringList{QStringLiteral("2 - /m/c.wav")});
    window->lstListas->setListIndex(1);
    EXPECT_EQ(window->lstContenido->SelCount(), 2);
    window->lstContenido->setListIndex(1);
    EXPECT_EQ(window->SelIdDocumento(), 3);
    EXPECT_EQ(window->SelPathDocumento(), QStringLiteral("/m/a-b.mp3"));
}

TEST_F(MainWindowTest, ProgramDirectoryIsMadeCurrentAtCreationAndOnActivation) {
    TempDir elsewhere;
    QDir::setCurrent(elsewhere.path());
    open();
    EXPECT_EQ(QDir::currentPath(), QDir(programDir.path()).canonicalPath());
    QDir::setCurrent(elsewhere.path());
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    QApplication::processEvents();
    if (!window->isActiveWindow())
        GTEST_SKIP() << "this platform does not activate windows";
    EXPECT_EQ(QDir::currentPath(), QDir(programDir.path()).canonicalPath());
}

TEST_F(MainWindowTest, AcercaDeShowsOneAboutDialogAndTheWindowStaysUsable) {
    open();
    window->cmdAcerca->click();
    auto* about = melofon::about::frmAbout::shared();
    ASSERT_NE(about, nullptr);
    window->cmdAcerca->click();
    EXPECT_EQ(melofon::about::frmAbout::shared(), about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->parentWidget(), nullptr);
    EXPECT_FALSE(about->isModal());
    EXPECT_TRUE(window->isEnabled());
    delete about;
}

TEST_F(MainWindowTest, SalirEndsTheProgramAndClosingStopsAWalk) {
    open();
    window->cmdSalir->click();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(window->Detenido);
    window->Detenido = false;
    window->close();
    EXPECT_TRUE(window->Detenido);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, AFailingHandlerIsReportedAndTheWindowGoesOn) {
    open();
    window->guarded([] { throw StoreError(StoreError::Kind::WriteFailed, QStringLiteral("No se pudo escribir.")); });
    window->guarded([] { throw std::runtime_error("disco lleno"); });
    ASSERT_EQ(messages.calls.size(), 2u);
    EXPECT_EQ(messages.calls[0].prompt, QStringLiteral("No se pudo escribir."));
    EXPECT_EQ(messages.calls[0].title, QStringLiteral("Melofon"));
    EXPECT_EQ(messages.calls[0].flags, 0);
    EXPECT_TRUE(messages.calls[1].prompt.contains(QStringLiteral("disco lleno")));
    EXPECT_TRUE(window->isVisible());
}
