// tarvish-search on a peak list of 10,000 peaks (real metabolites as the 12 positive ions,
// with their isotope peaks, plus noise), end to end as a process, against its floor: the
// bare SQLite queries of the same windows, one prepared statement bound per window, every
// column read.
//   EndToEnd/metabolites   the 114k demo metabolites (TW_DEMO_DATA_DIR, else the host's
//                          data directory)
//   EndToEnd/synthetic     the synthetic database of --rows rows (default 10,000,000)
//   BareSqlite/...         the floor on the same database
// Counters: wall and CPU seconds of the process, its shares of time in the queries, the
// matching and isotope scores and the output (from its --timing line), rows written, and
// vs_bare = wall time / bare-query time.
//   bench_searchbatch [--rows=N] [--db-dir=DIR] [--peaks=N] [--top=K]
//                     [--write-peaks=FILE] [benchmark options]
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "adduct.h"
#include "isotope_score.h"
#include "mass_search.h"
#include "synthetic_db.h"

namespace {

std::string gPeaksFile, gMetabolites, gSynthetic, gOutDir;
long gPeaks = 10000, gTop = 0;
std::vector<tvsearch::PeakRecord> gPeakRecords;

std::string demoDatabase() {
    if (const char* d = std::getenv("TW_DEMO_DATA_DIR")) return std::string(d) + "/Databases/Metabolites.db";
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = xdg && *xdg ? xdg : std::string(home ? home : "") + "/.local/share";
    return base + "/tarvish/Databases/Metabolites.db";
}

struct DbRow {
    double mass;
    std::string formula;
};

// Rows of the database sampled at random (a few thousand suffice).
std::vector<DbRow> sampleRows(const std::string& path, size_t n, std::mt19937_64& rng) {
    sqlite3* h = nullptr;
    std::vector<DbRow> rows;
    if (sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return rows;
    sqlite3_stmt* st = nullptr;
    long count = 0;
    if (sqlite3_prepare_v2(h, "SELECT MAX(ID) FROM Molecules", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        count = long(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    sqlite3_prepare_v2(h, "SELECT MassMI, Formula FROM Molecules WHERE ID = ?", -1, &st, nullptr);
    std::uniform_int_distribution<long> pick(1, std::max(1L, count));
    for (size_t tries = 0; rows.size() < n && tries < n * 10; ++tries) {
        sqlite3_reset(st);
        sqlite3_bind_int64(st, 1, pick(rng));
        if (sqlite3_step(st) != SQLITE_ROW) continue;
        const double m = sqlite3_column_double(st, 0);
        const char* f = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
        if (m > 60 && m < 1200 && f) rows.push_back({m, f});
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return rows;
}

// Features: a metabolite as one of the positive ions, its isotope peaks above 1 %, at one
// retention time; then noise peaks up to n. Written as CSV with id, mz, intensity, rt.
void writePeakList(const std::string& dbPath, const std::string& out, long n) {
    std::mt19937_64 rng(20240607);
    std::vector<tvsearch::Ion> ions;
    std::string error;
    std::string all;
    for (const std::string& t : tvsearch::positiveIonSet())
        all += t + ",";
    tvsearch::parseIonList(all, ions, error);
    std::vector<DbRow> rows = sampleRows(dbPath, size_t(n), rng);
    if (rows.empty()) throw std::runtime_error("cannot sample " + dbPath);
    tvsearch::DistributionCache cache;
    std::uniform_int_distribution<size_t> pickIon(0, ions.size() - 1);
    std::uniform_real_distribution<double> u(0, 1);
    std::ofstream f(out);
    f << "id,mz,intensity,rt\n";
    long written = 0, feature = 0;
    char line[160];
    const long featurePeaks = n * 9 / 10;
    for (size_t r = 0; written < featurePeaks && r < rows.size(); ++r) {
        const tvsearch::Ion& ion = ions[pickIon(rng)];
        tvchem::FormulaResult fr = tvchem::parseFormula(rows[r].formula);
        if (!fr.ok) continue;
        tvchem::Formula comp;
        if (tvsearch::ionComposition(fr.formula, ion, comp) != tvsearch::IonFormula::Ok) continue;
        const tvsearch::IonDistribution* d = cache.get(comp, ion.charge);
        if (!d) continue;
        const double scale = std::exp(u(rng) * 8) * 1000, rt = 0.5 + u(rng) * 20;
        const double mono = ion.mz(rows[r].mass);
        ++feature;
        for (const tvsearch::ClusterPeak& p : d->peaks) {
            if (p.intensity < 1 || written >= featurePeaks) continue;
            // 2 ppm of measurement error, 3 % of intensity noise.
            const double mz = p.mz + (mono - d->peaks.front().mz) + p.mz * 2e-6 * (u(rng) - 0.5);
            std::snprintf(line, sizeof line, "F%ld_%ld,%.5f,%.0f,%.3f\n", feature, written, mz,
                          p.intensity * scale * (0.97 + 0.06 * u(rng)), rt);
            f << line;
            ++written;
        }
    }
    for (; written < n; ++written) {
        std::snprintf(line, sizeof line, "N%ld,%.5f,%.0f,%.3f\n", written, 80 + u(rng) * 1100,
                      std::exp(u(rng) * 6) * 500, 0.5 + u(rng) * 20);
        f << line;
    }
}

std::vector<tvsearch::PeakRecord> readPeaks(const std::string& path) {
    tvsearch::PeakList l = tvsearch::readPeakList(path, {});
    if (l.status != tvsearch::PeakList::Ok) throw std::runtime_error(path + ": " + l.error);
    return l.peaks;
}

struct BareResult {
    double seconds = 0;
    long rows = 0, windows = 0;
};

// The floor: one prepared statement, bound per window, every column of every row read.
BareResult bareQueries(const std::string& dbPath) {
    std::vector<tvsearch::Ion> ions;
    for (const std::string& t : tvsearch::positiveIonSet())
        ions.push_back(tvsearch::parseIon(t).ion);
    std::vector<std::pair<double, double>> windows;
    const tvsearch::Tolerance tol{true, 5};
    for (const tvsearch::PeakRecord& p : gPeakRecords)
        for (const tvsearch::Ion& i : ions) {
            double lo, hi;
            tvsearch::neutralWindow(i, p.mz, tol, lo, hi);
            windows.emplace_back(lo, hi);
        }
    sqlite3* h = nullptr;
    sqlite3_open_v2(dbPath.c_str(), &h, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h,
                       "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE MassMI >= ? "
                       "AND MassMI <= ? ORDER BY MassMI",
                       -1, &st, nullptr);
    BareResult r;
    const auto t0 = std::chrono::steady_clock::now();
    size_t bytes = 0;
    for (const auto& [lo, hi] : windows) {
        sqlite3_bind_double(st, 1, lo);
        sqlite3_bind_double(st, 2, hi);
        while (sqlite3_step(st) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_int64(st, 0));
            benchmark::DoNotOptimize(sqlite3_column_double(st, 1));
            for (int c = 2; c < 5; ++c) {
                benchmark::DoNotOptimize(sqlite3_column_text(st, c));
                bytes += size_t(sqlite3_column_bytes(st, c));
            }
            ++r.rows;
        }
        sqlite3_reset(st);
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.windows = long(windows.size());
    benchmark::DoNotOptimize(bytes);
    sqlite3_finalize(st);
    sqlite3_close(h);
    return r;
}

std::map<std::string, BareResult> gBare;

const BareResult& bare(const std::string& db) {
    auto it = gBare.find(db);
    if (it == gBare.end()) {
        BareResult best;
        for (int k = 0; k < 3; ++k) { // best of three: the floor
            BareResult r = bareQueries(db);
            if (k == 0 || r.seconds < best.seconds) best = r;
        }
        it = gBare.emplace(db, best).first;
    }
    return it->second;
}

double field(const std::string& text, const std::string& key) {
    const size_t p = text.find(key);
    return p == std::string::npos ? 0 : std::atof(text.c_str() + p + key.size());
}

void BM_BareSqlite(benchmark::State& state, const std::string* db) {
    for (auto _ : state) {
        BareResult r = bareQueries(*db);
        state.SetIterationTime(r.seconds);
        state.counters["rows"] = double(r.rows);
        state.counters["windows"] = double(r.windows);
    }
}

// The tool as a process: startup, reading, queries, scores, the CSV written and renamed.
void BM_EndToEnd(benchmark::State& state, const std::string* db) {
    const std::string out = gOutDir + "/bench-results.csv", err = gOutDir + "/bench-stderr.txt";
    const std::string top = std::to_string(gTop);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            FILE* e = std::freopen(err.c_str(), "w", stderr);
            (void)e;
            std::vector<const char*> args = {TW_SEARCH_PATH, "-d", db->c_str(), "--positive",
                                             "--ppm", "5", "--timing", "-o", out.c_str(),
                                             gPeaksFile.c_str()};
            if (gTop > 0) {
                args.push_back("--top");
                args.push_back(top.c_str());
            }
            args.push_back(nullptr);
            execv(TW_SEARCH_PATH, const_cast<char* const*>(args.data()));
            _exit(127);
        }
        int status = 0;
        struct rusage ru {};
        wait4(pid, &status, 0, &ru);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(wall);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("tarvish-search failed");
            break;
        }
        std::ifstream in(err);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string t = ss.str();
        const double total = field(t, "total ");
        const double cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                           1e-6 * double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
        state.counters["wall_s"] = wall;
        state.counters["cpu_s"] = cpu;
        state.counters["queries_share"] = total > 0 ? field(t, ", queries ") / total : 0;
        state.counters["scores_share"] = total > 0 ? field(t, "isotope scores ") / total : 0;
        state.counters["output_share"] = total > 0 ? field(t, "output ") / total : 0;
        const size_t tp = t.find("total ");
        if (tp != std::string::npos) state.counters["queries"] = field(t.substr(tp), "s (");
        const size_t p = t.find(" hits on ");
        if (p != std::string::npos) {
            size_t b = t.rfind(", ", p);
            state.counters["hits"] = std::atof(t.c_str() + b + 2);
        }
        state.counters["vs_bare"] = wall / bare(*db).seconds;
        state.counters["bare_s"] = bare(*db).seconds;
    }
}

} // namespace

int main(int argc, char** argv) {
    long rows = 10000000;
    std::string writePeaks;
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--peaks=", 8) == 0)
            gPeaks = std::atol(argv[i] + 8);
        else if (std::strncmp(argv[i], "--top=", 6) == 0)
            gTop = std::atol(argv[i] + 6);
        else if (std::strncmp(argv[i], "--write-peaks=", 14) == 0)
            writePeaks = argv[i] + 14;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    try {
        gMetabolites = demoDatabase();
        if (!std::ifstream(gMetabolites)) {
            std::fprintf(stderr, "bench_searchbatch: %s is missing (scripts/build-demo-dbs.sh)\n",
                         gMetabolites.c_str());
            return 1;
        }
        char tmpl[] = "/tmp/tvs-bench-XXXXXX";
        gOutDir = mkdtemp(tmpl);
        gPeaksFile = writePeaks.empty() ? gOutDir + "/peaks.csv" : writePeaks;
        writePeakList(gMetabolites, gPeaksFile, gPeaks);
        if (!writePeaks.empty()) {
            std::printf("%s\n", writePeaks.c_str());
            return 0;
        }
        gPeakRecords = readPeaks(gPeaksFile);
        gSynthetic = syntheticDbFromArgs(argc, argv, rows);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_searchbatch: %s\n", e.what());
        return 1;
    }
    benchmark::RegisterBenchmark("BareSqlite/metabolites", BM_BareSqlite, &gMetabolites)
        ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("EndToEnd/metabolites", BM_EndToEnd, &gMetabolites)
        ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BareSqlite/synthetic", BM_BareSqlite, &gSynthetic)
        ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("EndToEnd/synthetic", BM_EndToEnd, &gSynthetic)
        ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::string rm = "rm -rf '" + gOutDir + "'";
    if (std::system(rm.c_str()) != 0) return 0;
    return 0;
}
