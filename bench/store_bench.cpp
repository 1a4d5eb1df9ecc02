// How the playlist store behaves at the size of a large music collection: 100,000 file
// entries in 1,000 playlists. Run with no arguments; the tables are generated in a
// temporary directory that is removed at the end.

#include "store/playlist_store.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace melofon::store;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPerPlaylist = 100;
constexpr int kLargest = 100'000;
constexpr int kSizes[] = {1'000, 10'000, kLargest};
constexpr const char* kMeasureFlag = "--measure-open";
// Inputs are drawn beforehand so that the timed loops measure the store, not the
// random generator; a power of two keeps the cycling index a mask.
constexpr std::size_t kInputs = 1 << 16;
constexpr double kMB = 1e6;

QString gRoot; // the temporary directory holding one store per size

QString storeDir(int entries) { return gRoot + QStringLiteral("/store-%1").arg(entries); }

QString entryPath(int playlist, int track, int song) {
    // 69 characters, 73 bytes of UTF-8: the length of a real collection's paths.
    return QStringLiteral("/home/usuario/Música/Artista %1/Álbum/%2 - Canción número %3.mp3")
        .arg(playlist, 3, 10, QLatin1Char('0'))
        .arg(track, 4, 10, QLatin1Char('0'))
        .arg(song % 10'000, 4, 10, QLatin1Char('0'));
}

std::vector<QVariant> row(const DbfTable& table, QByteArrayView a, const QVariant& va,
                          QByteArrayView b, const QVariant& vb) {
    std::vector<QVariant> values(table.fields().size());
    values[std::size_t(table.fieldIndex(a))] = va;
    values[std::size_t(table.fieldIndex(b))] = vb;
    return values;
}

// Straight through DbfTable::append in one batch: a single sync instead of one per row.
void generateStore(const QString& dir, int entries) {
    if (!QDir().mkpath(dir))
        throw StoreError(StoreError::Kind::CannotOpen, QStringLiteral("cannot create ") + dir);
    PlaylistStore store(dir);
    DbfTable& listas = store.dtcListas().table();
    DbfTable& docs = store.dtcDocumentos().table();
    DbfTable& links = store.dtcLisDoc().table();
    PlaylistStore::Batch batch(store);
    int docId = 0;
    for (int list = 1; list <= entries / kPerPlaylist; ++list) {
        listas.append(row(listas, "LISID", list, "LISDESC",
                          QStringLiteral("Lista de reproducción %1").arg(list)));
        for (int track = 1; track <= kPerPlaylist; ++track) {
            ++docId;
            docs.append(row(docs, "DOCID", docId, "DOCPATH", entryPath(list, track, docId)));
            links.append(row(links, "LISID", list, "DOCID", docId));
        }
    }
}

void refreshAll(PlaylistStore& store) {
    store.dtcListas().Refresh();
    store.dtcDocumentos().Refresh();
    store.dtcLisDoc().Refresh();
}

// Adds a file to a playlist as the program's add command does: the new entry's id is
// the last entry's id plus one, and each data source is refreshed after its row.
void addFile(PlaylistStore& store, qint32 listId, const QString& path) {
    Recordset& docs = store.dtcDocumentos().recordset();
    docs.MoveLast();
    const qint32 docId = docs.Eof() ? 1 : docs.Fields("DOCID").toInt32().value_or(0) + 1;
    docs.AddNew();
    docs.Fields("DOCID") = docId;
    docs.Fields("DOCPATH") = path;
    docs.Update();
    store.dtcDocumentos().Refresh();

    Recordset& links = store.dtcLisDoc().recordset();
    links.AddNew();
    links.Fields("LISID") = listId;
    links.Fields("DOCID") = docId;
    links.Update();
    store.dtcLisDoc().Refresh();
}

std::vector<qint32> randomIds(int count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<qint32> pick(1, count);
    std::vector<qint32> ids(kInputs);
    for (qint32& id : ids)
        id = pick(rng);
    return ids;
}

std::vector<QString> newPaths() {
    std::vector<QString> paths;
    paths.reserve(kInputs);
    for (std::size_t i = 0; i < kInputs; ++i)
        paths.push_back(entryPath(int(i % 1000), 101 + int(i % 9000), int(i)));
    return paths;
}

// A private copy of a generated store for the benchmarks that write, flushed to disk
// first so that its own writeback is not billed to the syncs being measured.
class ScratchCopy {
public:
    explicit ScratchCopy(const QString& from) {
        static int counter = 0;
        dir_ = gRoot + QStringLiteral("/scratch-%1").arg(++counter);
        const fs::path to = QFile::encodeName(dir_).toStdString();
        fs::copy(QFile::encodeName(from).toStdString(), to, fs::copy_options::recursive);
        for (const auto& entry : fs::directory_iterator(to)) {
            const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                ::fdatasync(fd);
                ::close(fd);
            }
        }
    }
    ~ScratchCopy() { fs::remove_all(QFile::encodeName(dir_).toStdString()); }
    ScratchCopy(const ScratchCopy&) = delete;
    ScratchCopy& operator=(const ScratchCopy&) = delete;
    const QString& dir() const { return dir_; }

private:
    QString dir_;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---------------------------------------------------------------------------------------
// Memory, measured in a process of its own: the benchmark process's peak RSS already
// holds the generation of the tables, and a fresh exec starts a new peak.

// Bytes handed out by malloc. Blocks above the mmap threshold (the column vectors, the
// text buffer) are counted in hblkhd, not uordblks, so both are needed.
double heapBytes() {
    const struct mallinfo2 m = mallinfo2();
    return double(m.uordblks + m.hblkhd);
}

// A "Vm...:  1234 kB" line of /proc/self/status, in bytes.
double statusBytes(const char* key) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(key) + ':';
    for (std::string line; std::getline(status, line);)
        if (line.rfind(prefix, 0) == 0)
            return std::stod(line.substr(prefix.size())) * 1024;
    return 0;
}

// The child's side: opens the store, prints "name value" lines, exits.
int measureOpenHere(const char* dir) {
    try {
        const double heap0 = heapBytes();
        const double peak0 = statusBytes("VmHWM");
        const auto start = Clock::now();
        PlaylistStore store(QFile::decodeName(dir));
        refreshAll(store);
        const double openSeconds = seconds(Clock::now() - start);
        const double heap1 = heapBytes();
        const double peak1 = statusBytes("VmHWM");
        // Finding by id builds a field's id chain on first use; count the ones a session
        // is likely to touch.
        store.dtcDocumentos().recordset().FindFirst("DOCID", 1);
        store.dtcLisDoc().recordset().FindFirst("LISID", 1);
        store.dtcLisDoc().recordset().FindFirst("DOCID", 1);
        const double heap2 = heapBytes();
        const double peak2 = statusBytes("VmHWM");
        std::printf("open_s %.9f\nheap_open %.0f\nheap_ids %.0f\n"
                    "peak_before %.0f\npeak_open %.0f\npeak_ids %.0f\n",
                    openSeconds, heap1 - heap0, heap2 - heap0, peak0, peak1, peak2);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

// The parent's side: runs this same program with kMeasureFlag and reads its lines.
std::map<std::string, double> measureOpenInFreshProcess(const QString& dir) {
    std::string exe = fs::read_symlink("/proc/self/exe").string();
    std::string flag = kMeasureFlag;
    std::string dirArg = QFile::encodeName(dir).toStdString();
    char* argv[] = {exe.data(), flag.data(), dirArg.data(), nullptr};

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    std::string text;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, std::size_t(n));
    }
    ::close(out[0]);
    if (spawned != 0)
        return {};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};

    std::map<std::string, double> values;
    std::istringstream lines(text);
    std::string name;
    double value = 0;
    while (lines >> name >> value)
        values[name] = value;
    return values;
}

// ---------------------------------------------------------------------------------------
// Benchmarks, run in this order.

void OpenInFreshProcess(benchmark::State& state) {
    const QString dir = storeDir(int(state.range(0)));
    for (auto _ : state) {
        const auto m = measureOpenInFreshProcess(dir);
        if (m.size() != 6) {
            state.SkipWithError("the measuring process failed");
            break;
        }
        state.SetIterationTime(m.at("open_s"));
        state.counters["heap_MB"] = m.at("heap_open") / kMB;
        state.counters["heap_ids_MB"] = m.at("heap_ids") / kMB;
        state.counters["rss_base_MB"] = m.at("peak_before") / kMB;
        state.counters["rss_peak_MB"] = m.at("peak_open") / kMB;
        state.counters["rss_peak_ids_MB"] = m.at("peak_ids") / kMB;
    }
}
BENCHMARK(OpenInFreshProcess)
    ->ArgName("entries")
    ->Arg(kLargest)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void OpenThreeTables(benchmark::State& state) {
    const QString dir = storeDir(int(state.range(0)));
    for (auto _ : state) {
        try {
            auto store = std::make_unique<PlaylistStore>(dir);
            refreshAll(*store);
            benchmark::DoNotOptimize(store->dtcDocumentos().recordset().RecordCount());
            state.PauseTiming();
            store.reset();
            state.ResumeTiming();
        } catch (const StoreError& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
}
BENCHMARK(OpenThreeTables)
    ->ArgName("entries")
    ->Arg(kSizes[0])
    ->Arg(kSizes[1])
    ->Arg(kSizes[2])
    ->Unit(benchmark::kMillisecond);

void AppendInBatch(benchmark::State& state) {
    const ScratchCopy copy(storeDir(int(state.range(0))));
    const std::vector<QString> paths = newPaths();
    const std::vector<qint32> lists = randomIds(int(state.range(0)) / kPerPlaylist, 7);
    double endSync = 0;
    try {
        PlaylistStore store(copy.dir());
        refreshAll(store);
        auto batch = std::make_unique<PlaylistStore::Batch>(store);
        std::size_t i = 0;
        for (auto _ : state) {
            addFile(store, lists[i & (kInputs - 1)], paths[i & (kInputs - 1)]);
            ++i;
        }
        const auto start = Clock::now();
        batch.reset();
        endSync = seconds(Clock::now() - start);
    } catch (const StoreError& e) {
        state.SkipWithError(e.what());
    }
    // What closing the batch cost for all the rows this run added, reported apart.
    state.counters["end_sync_ms"] = endSync * 1e3;
}
BENCHMARK(AppendInBatch)->ArgName("entries")->Arg(kLargest)->Unit(benchmark::kMicrosecond);

void SyncedCommand(benchmark::State& state) {
    const ScratchCopy copy(storeDir(int(state.range(0))));
    const std::vector<QString> paths = newPaths();
    const std::vector<qint32> lists = randomIds(int(state.range(0)) / kPerPlaylist, 11);
    try {
        PlaylistStore store(copy.dir());
        refreshAll(store);
        std::size_t i = 0;
        for (auto _ : state) {
            // One command: the batch's end syncs DOCUMENT and LISDOC.
            PlaylistStore::Batch batch(store);
            addFile(store, lists[i & (kInputs - 1)], paths[i & (kInputs - 1)]);
            ++i;
        }
    } catch (const StoreError& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(SyncedCommand)
    ->ArgName("entries")
    ->Arg(kLargest)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// `pool` ids drawn again and again, or every id when 0: with a small pool the rows stay
// in cache, which separates the lookup's own cost from cache misses in a large table.
void FindDocId(benchmark::State& state, std::size_t pool) {
    const int entries = int(state.range(0));
    std::vector<qint32> ids = randomIds(entries, 3);
    if (pool != 0)
        for (std::size_t i = pool; i < ids.size(); ++i)
            ids[i] = ids[i % pool];
    std::int64_t misses = 0;
    try {
        PlaylistStore store(storeDir(entries));
        refreshAll(store);
        Recordset& docs = store.dtcDocumentos().recordset();
        docs.FindFirst("DOCID", 1); // builds the id chain, once per opened table
        std::size_t i = 0;
        for (auto _ : state) {
            const bool found = docs.FindFirst("DOCID", ids[i++ & (kInputs - 1)]);
            misses += !found;
        }
    } catch (const StoreError& e) {
        state.SkipWithError(e.what());
        return;
    }
    if (misses != 0)
        state.SkipWithError("an existing id was not found");
    state.SetComplexityN(entries);
}
BENCHMARK_CAPTURE(FindDocId, random, std::size_t(0))
    ->ArgName("entries")
    ->Arg(kSizes[0])
    ->Arg(kSizes[1])
    ->Arg(kSizes[2])
    ->Complexity(benchmark::o1);
BENCHMARK_CAPTURE(FindDocId, cached, std::size_t(64))
    ->ArgName("entries")
    ->Arg(kSizes[0])
    ->Arg(kSizes[1])
    ->Arg(kSizes[2])
    ->Complexity(benchmark::o1);

void WalkPlaylist(benchmark::State& state) {
    const int entries = int(state.range(0));
    const std::vector<qint32> lists = randomIds(entries / kPerPlaylist, 5);
    std::int64_t rows = 0;
    try {
        PlaylistStore store(storeDir(entries));
        refreshAll(store);
        Recordset& links = store.dtcLisDoc().recordset();
        links.FindFirst("LISID", 1);
        std::size_t i = 0;
        for (auto _ : state) {
            const qint32 list = lists[i++ & (kInputs - 1)];
            for (bool found = links.FindFirst("LISID", list); found;
                 found = links.FindNext("LISID", list))
                ++rows;
        }
    } catch (const StoreError& e) {
        state.SkipWithError(e.what());
        return;
    }
    if (rows != std::int64_t(state.iterations()) * kPerPlaylist)
        state.SkipWithError("a playlist walk did not see its 100 rows");
    state.SetItemsProcessed(rows);
    state.SetComplexityN(entries);
}
BENCHMARK(WalkPlaylist)
    ->ArgName("entries")
    ->Arg(kSizes[0])
    ->Arg(kSizes[1])
    ->Arg(kSizes[2])
    ->Complexity(benchmark::o1)
    ->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------------------
// The usual table, then the figures that have a target, side by side with it.

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colour only on a terminal, as the library's own reporter does by default.
    SummaryReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                runs_[run.run_name.function_name + '/' + run.run_name.args] = run;
            else if (run.report_rms)
                rms_[run.run_name.function_name] = run.GetAdjustedRealTime() * 100;
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        const std::string big = "/entries:" + std::to_string(kLargest);
        out << "\nStore of " << kLargest << " entries in " << kLargest / kPerPlaylist
            << " playlists (CPU time unless synced or in a fresh process; MB = 10^6 bytes):\n";
        line(out, "open three tables", time("OpenThreeTables" + big, 1e3), "ms", "< 100 ms");
        line(out, "open in a fresh process", time("OpenInFreshProcess" + big, 1e3), "ms", "");
        line(out, "append file + link, in a batch", time("AppendInBatch" + big, 1e6), "us",
             "< 50 us");
        line(out, "one add command, synced", time("SyncedCommand" + big, 1e3), "ms", "");
        for (const char* ids : {"random", "cached"}) {
            for (const int size : kSizes)
                line(out, "FindFirst DOCID " + std::string(ids) + ", " + std::to_string(size),
                     time("FindDocId/" + std::string(ids) + "/entries:" + std::to_string(size), 1e9),
                     "ns", "");
            line(out, "  deviation from a constant", rms("FindDocId/" + std::string(ids)), "%", "");
        }
        for (const int size : kSizes)
            line(out, "walk one playlist, " + std::to_string(size),
                 time("WalkPlaylist/entries:" + std::to_string(size), 1e6), "us", "");
        line(out, "  deviation from a constant", rms("WalkPlaylist"), "%", "");
        const std::string memory = "OpenInFreshProcess" + big;
        line(out, "heap of the opened store", counter(memory, "heap_MB"), "MB", "< 40 MB");
        line(out, "heap with id chains built", counter(memory, "heap_ids_MB"), "MB", "< 40 MB");
        line(out, "peak RSS of the process, opened", counter(memory, "rss_peak_MB"), "MB",
             "< 40 MB");
        line(out, "peak RSS with id chains built", counter(memory, "rss_peak_ids_MB"), "MB", "");
        line(out, "  of which before opening", counter(memory, "rss_base_MB"), "MB", "");
    }

private:
    // Seconds per iteration times `scale`: CPU time, which other load on the machine
    // disturbs less, except where waiting for the disk or a process is the point.
    std::optional<double> time(const std::string& name, double scale) const {
        const auto it = runs_.find(name);
        if (it == runs_.end())
            return std::nullopt;
        const Run& run = it->second;
        const bool wall = run.run_name.time_type == "real_time" || run.run_name.time_type == "manual_time";
        return (wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime()) /
               benchmark::GetTimeUnitMultiplier(run.time_unit) * scale;
    }

    std::optional<double> rms(const std::string& family) const {
        const auto it = rms_.find(family);
        return it == rms_.end() ? std::nullopt : std::optional<double>(it->second);
    }

    std::optional<double> counter(const std::string& name, const std::string& key) const {
        const auto it = runs_.find(name);
        if (it == runs_.end() || !it->second.counters.count(key))
            return std::nullopt;
        return it->second.counters.at(key).value;
    }

    static void line(std::ostream& out, const std::string& what, std::optional<double> value,
                     const char* unit, const std::string& target) {
        char text[160];
        if (value)
            std::snprintf(text, sizeof text, "  %-36s %10.2f %s", what.c_str(), *value, unit);
        else
            std::snprintf(text, sizeof text, "  %-36s %10s", what.c_str(), "not run");
        out << text;
        if (value && !target.empty())
            out << "   (target " << target << ')';
        out << '\n';
    }

    std::map<std::string, Run> runs_;
    std::map<std::string, double> rms_; // percent
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kMeasureFlag) == 0)
        return measureOpenHere(argv[2]);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/melofon-bench-XXXXXX"));
    if (!temp.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory: %s\n",
                     qPrintable(temp.errorString()));
        return 1;
    }
    gRoot = temp.path();

    try {
        for (const int size : kSizes) {
            const auto start = Clock::now();
            generateStore(storeDir(size), size);
            std::printf("Generated %d entries in %d playlists in %.2f s\n", size,
                        size / kPerPlaylist, seconds(Clock::now() - start));
        }
    } catch (const StoreError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fflush(stdout);

    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
