#include "store/playlist_store.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>
#include <QWidget>

#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Melofon"));
    QApplication::setApplicationVersion(QStringLiteral(MELOFON_VERSION));

    using melofon::store::PlaylistStore;
    using melofon::store::StoreError;

    // The tables live next to the program; an installed, read-only copy keeps them in
    // the user's data directory instead.
    const QString programDir = QCoreApplication::applicationDirPath();
    QDir::setCurrent(programDir);
    const QString dir = PlaylistStore::chooseDirectory(
        {programDir, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)});
    if (dir.isEmpty()) {
        QMessageBox::critical(nullptr, QStringLiteral("Melofon"),
                              QStringLiteral("No hay ninguna carpeta donde guardar las listas de "
                                             "reproducción."));
        return 1;
    }

    std::unique_ptr<PlaylistStore> store;
    try {
        store = std::make_unique<PlaylistStore>(dir);
        store->dtcListas().Refresh();
        store->dtcDocumentos().Refresh();
        store->dtcLisDoc().Refresh();
    } catch (const StoreError& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Melofon"), e.message());
        return 1;
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Melofon"));
    window.resize(632, 453);
    window.show();
    return app.exec();
}
