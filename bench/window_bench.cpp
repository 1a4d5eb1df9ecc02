// How fast the main window starts and fills its file box on a large store: 100,000 file
// entries, one playlist of 10,000 of them and 90 of 1,000. Run with no arguments.

#include "app/dialogs.h"
#include "app/frm_principal.h"
#include "store/playlist_store.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using melofon::store::DbfTable;
using melofon::store::PlaylistStore;

constexpr int kBigPlaylist = 10'000;
constexpr int kOtherPlaylists = 90;
constexpr int kPerOther = 1'000;

QTemporaryDir* gDir = nullptr;

std::vector<QVariant> row(const DbfTable& t, QByteArrayView a, const QVariant& va, QByteArrayView b,
                          const QVariant& vb) {
    std::vector<QVariant> v(t.fields().size());
    v[std::size_t(t.fieldIndex(a))] = va;
    v[std::size_t(t.fieldIndex(b))] = vb;
    return v;
}

// The big playlist's files are spread through DOCUMENT, after the others' first files.
void generate(const QString& dir) {
    PlaylistStore store(dir);
    PlaylistStore::Batch batch(store);
    DbfTable& listas = store.dtcListas().table();
    DbfTable& docs = store.dtcDocumentos().table();
    DbfTable& links = store.dtcLisDoc().table();
    for (int l = 1; l <= kOtherPlaylists + 1; ++l)
        listas.append(row(listas, "LISID", l, "LISDESC", QStringLiteral("Lista número %1").arg(l)));
    int docId = 0;
    for (int i = 0; i < kPerOther; ++i) {
        for (int l = 1; l <= kOtherPlaylists + 1; ++l) {
            const int copies = l == 1 ? kBigPlaylist / kPerOther : 1;
            for (int c = 0; c < copies; ++c) {
                ++docId;
                docs.append(row(docs, "DOCID", docId, "DOCPATH",
                                QStringLiteral("/home/usuario/Música/Artista %1/Álbum/%2 - Canción %3.mp3")
                                    .arg(l, 3, 10, QLatin1Char('0'))
                                    .arg(i, 4, 10, QLatin1Char('0'))
                                    .arg(docId)));
                links.append(row(links, "LISID", l, "DOCID", docId));
            }
        }
    }
}

struct Window {
    explicit Window(PlaylistStore& store)
        : form(store, gDir->path(), messages, [] {}) {}
    melofon::app::QtMessageBoxes messages;
    melofon::app::frmPrincipal form;
};

void BM_OpenStoreAndShowWindow(benchmark::State& state) {
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto store = std::make_unique<PlaylistStore>(gDir->path());
        Window w(*store);
        w.form.start();
        QApplication::processEvents();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_OpenStoreAndShowWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ShowWindowOnOpenStore(benchmark::State& state) {
    PlaylistStore store(gDir->path());
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        Window w(store);
        w.form.start();
        QApplication::processEvents();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_ShowWindowOnOpenStore)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Selecting the big playlist: the click handler's refill and the repaint that follows.
void BM_SelectTenThousandEntryPlaylist(benchmark::State& state) {
    PlaylistStore store(gDir->path());
    Window w(store);
    w.form.start();
    QApplication::processEvents();
    int other = 1;
    for (auto _ : state) {
        w.form.lstListas->setListIndex(other); // a small playlist in between
        QApplication::processEvents();
        other = other % kOtherPlaylists + 1;
        auto start = std::chrono::steady_clock::now();
        w.form.lstListas->setListIndex(0);
        w.form.lstContenido->repaint();
        QApplication::processEvents();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (w.form.lstContenido->ListCount() != kBigPlaylist)
            state.SkipWithError("the big playlist did not fill");
    }
}
BENCHMARK(BM_SelectTenThousandEntryPlaylist)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    gDir = &dir;
    generate(dir.path());
    std::printf("Store: %d entries; one playlist of %d, %d of %d. Targets: window shown < 300 ms, "
                "selecting the big playlist < 50 ms.\n",
                kBigPlaylist + kOtherPlaylists * kPerOther, kBigPlaylist, kOtherPlaylists, kPerOther);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
