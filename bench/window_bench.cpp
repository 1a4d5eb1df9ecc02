// How the main window starts and fills its file box as the store grows: stores of 10,000,
// 100,000 and 1,000,000 file entries, each with a first playlist of 10,000 entries spread
// through DOCUMENT and the rest in playlists of 1,000. Each figure is the median of three
// runs, each in a fresh process, so that memory is the window's own:
//   start to window: from launching the process to the window shown and painted;
//   memory: resident set when shown, and after the first fill;
//   fill: selecting the big playlist, up to the file box painted: the window thread's
//   CPU time and the wall time.
// Run with no arguments (about a minute, and 300 MB of disk in the temporary directory).
// To look at one run, under a profiler for instance: `window_bench --generate DIR N`
// writes a store of N entries into DIR, `window_bench --measure DIR` runs once on it.

#include "app/frm_principal.h"
#include "app/qt_dialogs.h"
#include "app/translations.h"
#include "large_store.h"
#include "playback/gst_player.h"
#include "store/playlist_store.h"

#include <QApplication>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace melofon::bench;
using melofon::store::PlaylistStore;

constexpr const char* kMeasureFlag = "--measure";
constexpr const char* kGenerateFlag = "--generate";
constexpr int kSizes[] = {10'000, 100'000, 1'000'000};
constexpr int kRuns = 3;

double seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double residentMB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

struct Figures {
    double shownAt = 0; // CLOCK_MONOTONIC, shared by parent and child
    double shownMB = 0;
    double fillCpu = 0;
    double fillWall = 0;
    double filledMB = 0;
};

// The child: the program's start-up with the real player, then one click on the big
// playlist. Prints its figures on one line.
int measure(int argc, char** argv, const QString& dir) {
    QApplication app(argc, argv);
    melofon::app::loadSpanishTranslations(app);
    PlaylistStore store(dir);
    melofon::playback::GstPlayer player;
    melofon::app::QtMessageBoxes messages;
    melofon::app::QtInputBoxes input;
    melofon::app::QtOpenFileDialog files;
    melofon::app::frmPrincipal window(store, player, {messages, input, files}, dir, [] {});
    window.start();
    window.repaint();
    QApplication::processEvents();
    Figures f;
    f.shownAt = seconds(CLOCK_MONOTONIC);
    f.shownMB = residentMB();

    const double cpu = seconds(CLOCK_THREAD_CPUTIME_ID);
    const double wall = seconds(CLOCK_MONOTONIC);
    window.lstListas->setListIndex(0);
    window.lstContenido->repaint();
    QApplication::processEvents();
    f.fillCpu = seconds(CLOCK_THREAD_CPUTIME_ID) - cpu;
    f.fillWall = seconds(CLOCK_MONOTONIC) - wall;
    f.filledMB = residentMB();
    if (window.lstContenido->ListCount() != kBigPlaylist) {
        std::fprintf(stderr, "the big playlist listed %d rows\n", window.lstContenido->ListCount());
        return 1;
    }
    std::printf("%.6f %.3f %.6f %.6f %.3f\n", f.shownAt, f.shownMB, f.fillCpu, f.fillWall, f.filledMB);
    return 0;
}

// One run in a fresh process; the start is taken just before the launch.
bool run(const char* self, const QString& dir, Figures& f, double& start) {
    int out[2];
    if (::pipe(out) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string dirArg = dir.toStdString();
    char* args[] = {const_cast<char*>(self), const_cast<char*>(kMeasureFlag), const_cast<char*>(dirArg.c_str()), nullptr};
    pid_t pid = 0;
    start = seconds(CLOCK_MONOTONIC);
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return false;
    }
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           std::sscanf(text.c_str(), "%lf %lf %lf %lf %lf", &f.shownAt, &f.shownMB, &f.fillCpu, &f.fillWall,
                       &f.filledMB) == 5;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::strcmp(argv[1], kMeasureFlag) == 0)
        return measure(argc, argv, QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && std::strcmp(argv[1], kGenerateFlag) == 0) {
        QCoreApplication app(argc, argv);
        generateLargeStore(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
        return 0;
    }

    std::vector<double> cpuOf(std::size(kSizes));
    std::printf("Medians of %d runs, each in a fresh process; a first playlist of %d entries.\n"
                "Targets at 1,000,000 entries: window shown < 0.3 s and < 80 MB, < 90 MB after the "
                "fill, fill CPU at most 1.2 times that at 100,000.\n\n",
                kRuns, kBigPlaylist);
    std::printf("%10s %16s %14s %14s %15s %16s\n", "entries", "start to window", "memory shown", "fill CPU",
                "fill wall", "memory filled");
    for (std::size_t s = 0; s < std::size(kSizes); ++s) {
        QTemporaryDir dir;
        {
            QCoreApplication app(argc, argv); // generating needs no window
            generateLargeStore(dir.path(), kSizes[s]);
        }
        std::vector<double> started, shown, cpu, wall, filled;
        for (int r = 0; r < kRuns; ++r) {
            Figures f;
            double start = 0;
            if (!run(argv[0], dir.path(), f, start)) {
                std::fprintf(stderr, "the measuring run failed\n");
                return 1;
            }
            started.push_back(f.shownAt - start);
            shown.push_back(f.shownMB);
            cpu.push_back(f.fillCpu);
            wall.push_back(f.fillWall);
            filled.push_back(f.filledMB);
        }
        cpuOf[s] = median(cpu);
        std::printf("%10d %14.3f s %11.1f MB %12.3f s %13.3f s %13.1f MB\n", kSizes[s], median(started),
                    median(shown), cpuOf[s], median(wall), median(filled));
        std::fflush(stdout);
    }
    std::printf("\nFill CPU, 1,000,000 / 100,000 entries: %.2f\n", cpuOf[2] / cpuOf[1]);
    return 0;
}
