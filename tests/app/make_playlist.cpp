// Writes playlist tables for the checks that drive the real program from outside:
// make_playlist DIR NAME FILE... makes playlist 1, NAME, with the files in that order.

#include "support/store_rows.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: make_playlist DIR NAME FILE...\n");
        return 2;
    }
    try {
        melofon::store::PlaylistStore store(args[1]);
        melofon::test::addPlaylist(store, 1, args[2]);
        for (int i = 3; i < args.size(); ++i)
            melofon::test::addFile(store, 1, i - 2, args[i]);
    } catch (const melofon::store::StoreError& e) {
        std::fprintf(stderr, "make_playlist: %s\n", qPrintable(e.message()));
        return 1;
    }
    return 0;
}
