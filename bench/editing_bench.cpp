// The editing commands, driven through the real window with scripted dialogs, on a store
// of 100,000 file entries. Each run works on a fresh copy of the tables, and the time
// includes syncing the command's writes to disk. Run with no arguments.

#include "app/frm_principal.h"
#include "large_store.h"
#include "support/scripted_dialogs.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using melofon::store::PlaylistStore;
using namespace melofon::bench;

QTemporaryDir* gMaster = nullptr;

// A fresh copy of the large store with the window open on it.
struct Session {
    Session() {
        for (const QString& f : QDir(gMaster->path()).entryList(QDir::Files))
            QFile::copy(gMaster->filePath(f), dir.filePath(f));
        store = std::make_unique<PlaylistStore>(dir.path());
        window = std::make_unique<melofon::app::frmPrincipal>(*store, player, scripted.dialogs(), dir.path(),
                                                             [] {});
        window->start();
    }
    QTemporaryDir dir;
    melofon::test::ScriptedDialogs scripted;
    SilentPlayer player;
    std::unique_ptr<PlaylistStore> store;
    std::unique_ptr<melofon::app::frmPrincipal> window;
};

template <class F>
double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_AddTenThousandFilesChosenTogether(benchmark::State& state) {
    QString choice = QStringLiteral("/home/usuario/Música/Nuevos");
    for (int i = 0; i < 10'000; ++i)
        choice += QChar(0) + QStringLiteral("Canción nueva %1.mp3").arg(i, 5, 10, QLatin1Char('0'));
    for (auto _ : state) {
        Session s;
        s.window->lstListas->setListIndex(1); // a playlist of 1,000
        s.scripted.files.choices.push_back(choice);
        state.SetIterationTime(seconds([&] { s.window->cmdAgregarDoc->click(); }));
        if (s.window->lstContenido->ListCount() != kPerOther + 10'000)
            state.SkipWithError("the files were not all added");
    }
}
BENCHMARK(BM_AddTenThousandFilesChosenTogether)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DeleteTenThousandEntryPlaylist(benchmark::State& state) {
    for (auto _ : state) {
        Session s;
        s.window->lstListas->setListIndex(0);
        s.scripted.messages.answers.push_back(melofon::editing::MessageBoxes::vbYes);
        state.SetIterationTime(seconds([&] { s.window->cmdEliminarLis->click(); }));
        if (s.store->dtcDocumentos().recordset().RecordCount() != kEntries - kBigPlaylist)
            state.SkipWithError("the playlist's entries were not all deleted");
    }
}
BENCHMARK(BM_DeleteTenThousandEntryPlaylist)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RemoveOneEntry(benchmark::State& state) {
    for (auto _ : state) {
        Session s;
        s.window->lstListas->setListIndex(1);
        s.window->lstContenido->setListIndex(kPerOther / 2);
        s.scripted.messages.answers.push_back(melofon::editing::MessageBoxes::vbYes);
        state.SetIterationTime(seconds([&] { s.window->cmdEliminarDoc->click(); }));
        if (s.window->lstContenido->ListCount() != kPerOther - 1)
            state.SkipWithError("the entry was not removed");
    }
}
BENCHMARK(BM_RemoveOneEntry)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir master;
    gMaster = &master;
    generateLargeStore(master.path());
    std::printf("Store: %d entries. Targets: adding 10,000 files < 2 s, deleting a 10,000-entry playlist "
                "< 200 ms, removing one entry (from a playlist of %d) < 20 ms.\n",
                kEntries, kPerOther);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
