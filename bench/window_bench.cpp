// How fast the main window starts and fills its file box on a large store: 100,000 file
// entries, one playlist of 10,000 of them and 90 of 1,000. Run with no arguments.

#include "app/qt_dialogs.h"
#include "app/frm_principal.h"
#include "large_store.h"
#include "store/playlist_store.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using melofon::store::PlaylistStore;
using namespace melofon::bench;

QTemporaryDir* gDir = nullptr;

struct Window {
    explicit Window(PlaylistStore& store)
        : form(store, player, {messages, input, files}, gDir->path(), [] {}) {}
    melofon::app::QtMessageBoxes messages;
    melofon::app::QtInputBoxes input;
    melofon::app::QtOpenFileDialog files;
    SilentPlayer player;
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
    generateLargeStore(dir.path());
    std::printf("Store: %d entries; one playlist of %d, %d of %d. Targets: window shown < 300 ms, "
                "selecting the big playlist < 50 ms.\n",
                kEntries, kBigPlaylist, kOtherPlaylists, kPerOther);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
