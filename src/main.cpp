#include "app/command_line.h"
#include "app/qt_dialogs.h"
#include "app/translations.h"
#include "app/frm_principal.h"
#include "app/mpris.h"
#include "playback/gst_player.h"
#include "store/playlist_store.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>

#include <malloc.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace {

// Ends the program at once; every change is already on disk, so there is nothing left to
// write. A thread still waiting on a share that does not answer keeps the process from
// ending until the share answers, and with it every open descriptor: they are closed
// first, so that the window, the tables' lock and the bus name go at once.
[[noreturn]] void endNow(int code) {
    ::closefrom(STDERR_FILENO + 1);
    std::_Exit(code);
}

} // namespace

int main(int argc, char* argv[]) {
    // One malloc arena for every thread: each streaming thread would otherwise keep an
    // arena of its own, holding on to what it freed (a MIDI file's soundfont, some 16 MB,
    // once per thread that ever loaded one). Playing sound is far from contended enough to
    // feel the difference.
    mallopt(M_ARENA_MAX, 1);
    melofon::playback::GstPlayer::keepToOwnPlugins();
    // --help, --version and an option of no one's are answered before Qt looks for a
    // display; Qt's own options (one dash) are Qt's to take out.
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        const melofon::app::CommandLine early = melofon::app::parseCommandLine(raw, QString());
        using Request = melofon::app::CommandLine::Request;
        if (early.request == Request::Help || early.request == Request::Version ||
            (early.request == Request::UnknownOption && early.unknownOption.startsWith(QLatin1String("--")))) {
            const melofon::app::StartUp now = melofon::app::startUp(raw, QString());
            now.print();
            return now.exitCode.value_or(0);
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Melofon"));
    QApplication::setApplicationVersion(QStringLiteral(MELOFON_VERSION));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("melofon"));
    melofon::app::loadSpanishTranslations(app);
    const melofon::app::StartUp start = melofon::app::startUp(QCoreApplication::arguments());
    start.print();
    if (start.exitCode)
        return *start.exitCode;

    using melofon::store::PlaylistStore;
    using melofon::store::StoreError;

    // Tables beside the program are used there (read-only when that folder cannot be
    // written); otherwise the playlists live in the user's data directory.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString dir =
        PlaylistStore::locate(programDir, dataHome.isEmpty() ? QString() : dataHome + QStringLiteral("/Melofon"));
    if (dir.isEmpty()) {
        QMessageBox::critical(nullptr, QStringLiteral("Melofon"),
                              QStringLiteral("No hay ninguna carpeta donde guardar las listas de "
                                             "reproducción."));
        return 1;
    }

    std::unique_ptr<PlaylistStore> store;
    try {
        store = std::make_unique<PlaylistStore>(dir);
    } catch (const StoreError& e) {
        // A second copy on the same tables hands its file to the first one and brings that
        // one's window forward instead.
        if (e.kind() == StoreError::Kind::AlreadyOpen && melofon::app::Mpris::handToCopyWith(dir, start.file))
            return 0;
        QMessageBox::critical(nullptr, QStringLiteral("Melofon"), e.message());
        return 1;
    }

    // The bus name at once, before anything slow: a copy started a moment after this one
    // finds it and hands over to this one instead of finding the tables locked.
    melofon::app::Mpris mpris(dir);

    melofon::playback::GstPlayer player;
    melofon::app::QtMessageBoxes messages;
    melofon::app::QtInputBoxes input;
    melofon::app::QtOpenFileDialog cmExplorar;
    // "Salir" ends everything at once, even from inside a running playlist walk.
    melofon::app::frmPrincipal window(*store, player, {messages, input, cmExplorar}, programDir, [] { endNow(0); });
    messages.setParent(&window);
    input.setParent(&window);
    cmExplorar.setParent(&window);
    window.start();
    // The desktop's media keys and player controls.
    mpris.attach(window, window.playback());
    if (!start.file.isEmpty())
        window.ReproducirArchivo(start.file);
    // The close box: the window has stopped the sound; the rest ends as "Salir" ends it.
    endNow(app.exec());
}
