// Renders the main window, with a few playlists loaded and one selected, to a PNG file,
// so that anyone can look at it without a display: window_screenshot OUT.png
#include "support/scripted_dialogs.h"
#include "about/frm_about.h"
#include "app/frm_principal.h"
#include "store/playlist_store.h"
#include "support/fake_player.h"
#include "support/store_rows.h"

#include <QApplication>
#include <QLineEdit>
#include <QToolButton>
#include <QTemporaryDir>

#include <cstdio>

using melofon::store::PlaylistStore;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    QTemporaryDir dir;
    PlaylistStore store(dir.path());
    const QStringList playlists = {QStringLiteral("Mi música favorita"), QStringLiteral("Clásicos - Barroco"),
                                   QStringLiteral("Para el coche")};
    const QStringList files = {QStringLiteral("/home/usuario/Música/Bach - Tocata y fuga.mid"),
                               QStringLiteral("/home/usuario/Música/Vivaldi - La primavera.mp3"),
                               QStringLiteral("/home/usuario/Música/Pachelbel - Canon en re.wav")};
    qint32 docId = 0;
    for (qint32 l = 1; l <= playlists.size(); ++l) {
        melofon::test::addPlaylist(store, l, playlists[l - 1]);
        for (const QString& f : files)
            melofon::test::addFile(store, l, ++docId, f);
    }
    melofon::test::ScriptedDialogs dialogs;
    melofon::test::FakePlayer player;
    melofon::app::frmPrincipal window(store, player, dialogs.dialogs(), dir.path(), [] {});
    window.start();
    window.lstListas->setListIndex(1);
    window.lstContenido->setSelected(1, false);
    window.lstContenido->setListIndex(0);
    window.txtArchivo->setText(QStringLiteral("/home/usuario/Música/tema.mp3"));
    QApplication::processEvents();
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!window.grab().save(out)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    // The About dialog beside it: OUT-about.png.
    window.cmdAcerca->click();
    auto* about = melofon::about::frmAbout::shared();
    QApplication::processEvents();
    QString aboutOut = out;
    aboutOut.insert(out.endsWith(QLatin1String(".png")) ? out.size() - 4 : out.size(), QStringLiteral("-about"));
    const bool saved = about && about->grab().save(aboutOut);
    delete about;
    if (!saved) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(aboutOut));
        return 1;
    }
    return 0;
}
