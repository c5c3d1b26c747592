// The Access engine on an Access copy of the synthetic molecule database, against its floors:
//   - the first open (libmdb read, cache build) against mdb-export of the same table;
//   - the open from the cache (absolute: at most 50 ms);
//   - the queries of 200 and 10,000 hits (the TOP form the plug-in sends to an Access
//     database, and the LIMIT form) against the SQLite engine's LIMIT form on the same rows.
// The ratios are printed after the run.
//   bench_access [--rows=N] [--db-dir=DIR] [benchmark options]   (default 114000 rows)
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "db_engines.h"
#include "db_writer.h"
#include "synthetic_db.h"

namespace fs = std::filesystem;

namespace {

std::string gSqlite, gMdb, gCache;

// The Access copy of the synthetic database, written with tarvish-mkdb's writer (reused
// when newer than the SQLite file).
std::string accessCopy(const std::string& sqlite) {
    const std::string mdb = fs::path(sqlite).replace_extension(".mdb").string();
    std::error_code ec;
    if (fs::exists(mdb, ec) && fs::last_write_time(mdb, ec) > fs::last_write_time(sqlite, ec))
        return mdb;
    sqlite3* h = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_open_v2(sqlite.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(h, "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules ORDER BY rowid",
                           -1, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot read " + sqlite);
    std::string error;
    auto w = mkdb::openRowWriter(mdb, error);
    if (!w) throw std::runtime_error(error);
    auto text = [&](int i) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        return std::string(t ? t : "");
    };
    while (sqlite3_step(st) == SQLITE_ROW)
        if (!w->add(sqlite3_column_int64(st, 0),
                    {sqlite3_column_double(st, 1), text(2), text(3), text(4)}, error))
            throw std::runtime_error(error);
    sqlite3_finalize(st);
    sqlite3_close(h);
    if (!w->finish(error)) throw std::runtime_error(error);
    return mdb;
}

std::string six(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    return std::string(buf, r.ptr);
}

struct Window {
    std::string low, high;
    int hits;
};

// A window around 400 Da holding `hits` rows, bounds printed as the plug-in prints them.
Window windowOf(int hits) {
    Window w2;
    sqlite3* h = nullptr;
    sqlite3_open_v2(gSqlite.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    auto at = [&](const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        double v = 0;
        if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            v = sqlite3_column_double(st, 0);
        sqlite3_finalize(st);
        return v;
    };
    const double low = at("SELECT MassMI FROM Molecules WHERE MassMI < 400 ORDER BY MassMI DESC LIMIT 1");
    const double high = at("SELECT MassMI FROM Molecules WHERE MassMI > " + six(low) +
                           " ORDER BY MassMI LIMIT 1 OFFSET " + std::to_string(hits));
    const Window w{six(low), six(high), 0};
    // Equal masses at the ends make the count differ a little from the one asked for.
    w2 = w;
    w2.hits = int(at("SELECT count(*) FROM Molecules WHERE MassMI > " + w.low + " AND MassMI < " + w.high));
    sqlite3_close(h);
    return w2;
}

std::string topSql(const Window& w) {
    return "SELECT * FROM (SELECT TOP " + std::to_string(w.hits) +
           " ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > " + w.low +
           ") AND (MassMI < " + w.high + ") ORDER BY Name) ORDER BY MassMI;";
}

std::string limitSql(const Window& w) {
    return "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > " + w.low +
           ") AND (MassMI < " + w.high + ") ORDER BY MassMI ASC LIMIT " + std::to_string(w.hits) + ";";
}

void removeCaches() {
    std::error_code ec;
    fs::remove_all(gCache + "/tarvish", ec);
}

void mdbExportFloor(benchmark::State& state) {
    const std::string cmd = "mdb-export '" + gMdb + "' Molecules > /dev/null";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("mdb-export failed");
}

void firstOpen(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        removeCaches();
        state.ResumeTiming();
        CommandResult error;
        auto e = DbEngines::openFile(gMdb, error);
        if (!e) state.SkipWithError(error.text.c_str());
    }
}

void openFromCache(benchmark::State& state) {
    CommandResult error;
    if (!DbEngines::openFile(gMdb, error)) state.SkipWithError(error.text.c_str());
    for (auto _ : state) {
        auto e = DbEngines::openFile(gMdb, error);
        if (!e) state.SkipWithError(error.text.c_str());
    }
}

void query(benchmark::State& state, const std::string& file, const std::string& sql, int hits) {
    CommandResult error;
    auto e = DbEngines::openFile(file, error);
    if (!e) return state.SkipWithError(error.text.c_str());
    CommandResult r;
    for (auto _ : state) {
        r = e->query(sql);
        if (r.code != 0) return state.SkipWithError(r.text.c_str());
        benchmark::DoNotOptimize(r.text.data());
    }
    const long rows = long(std::count(r.text.begin(), r.text.end(), '\n'));
    state.counters["rows"] = double(rows);
    if (rows != hits) state.SkipWithError("not the expected number of hits");
}

// Keeps the time per iteration of every run, for the ratios: real time for the runs that
// wait for another process (mdb-export) or the disk, CPU time for the queries, which on a
// shared machine is the steadier measure of work done in this process.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.iterations > 0 && !r.error_occurred) {
                const bool query = r.benchmark_name().find("/limit_") != std::string::npos ||
                                   r.benchmark_name().find("/top_") != std::string::npos;
                seconds[r.benchmark_name()] =
                    (query ? r.cpu_accumulated_time : r.real_accumulated_time) / double(r.iterations);
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

void registerAll() {
    using benchmark::RegisterBenchmark;
    RegisterBenchmark("MdbExport/floor", mdbExportFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
    RegisterBenchmark("Access/first_open", firstOpen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
    RegisterBenchmark("Access/open_from_cache", openFromCache)->Unit(benchmark::kMillisecond)->UseRealTime();
    for (int hits : {200, 10000}) {
        const Window w = windowOf(hits);
        const std::string n = std::to_string(hits);
        if (w.hits != hits)
            std::fprintf(stderr, "the window of about %d rows holds %d\n", hits, w.hits);
        RegisterBenchmark(("Sqlite/limit_" + n).c_str(), [w](benchmark::State& s) {
            query(s, gSqlite, limitSql(w), w.hits);
        })->Unit(benchmark::kMicrosecond)->UseRealTime();
        RegisterBenchmark(("Access/top_" + n).c_str(), [w](benchmark::State& s) {
            query(s, gMdb, topSql(w), w.hits);
        })->Unit(benchmark::kMicrosecond)->UseRealTime();
        RegisterBenchmark(("Access/limit_" + n).c_str(), [w](benchmark::State& s) {
            query(s, gMdb, limitSql(w), w.hits);
        })->Unit(benchmark::kMicrosecond)->UseRealTime();
        if (hits == 10000) { // the first 200 by name of the 10,000: the name order at work
            Window cut = w;
            cut.hits = 200;
            RegisterBenchmark("Access/top_200_of_10000", [cut](benchmark::State& s) {
                query(s, gMdb, topSql(cut), cut.hits);
            })->Unit(benchmark::kMicrosecond)->UseRealTime();
        }
    }
}

void printRatios(const std::map<std::string, double>& s) {
    auto get = [&](const char* name) {
        auto it = s.find(name);
        return it == s.end() ? 0.0 : it->second;
    };
    auto ratio = [&](const char* what, const char* a, const char* b, double limit) {
        const double x = get(a), y = get(b);
        if (x > 0 && y > 0)
            std::printf("%-44s %7.2f  (limit %.1f)\n", what, x / y, limit);
    };
    std::printf("\nRatios\n");
    ratio("first open / mdb-export", "Access/first_open/iterations:5/real_time",
          "MdbExport/floor/iterations:5/real_time", 2.0);
    std::printf("%-44s %7.2f ms (limit 50)\n", "open from the cache",
                get("Access/open_from_cache/real_time") * 1e3);
    std::printf("%-44s %7.2f ms (the name order of 10,000 rows)\n", "TOP form, first 200 of 10000 hits",
                get("Access/top_200_of_10000/real_time") * 1e3);
    for (const char* n : {"200", "10000"}) {
        const std::string sq = std::string("Sqlite/limit_") + n + "/real_time";
        const std::string top = std::string("Access/top_") + n + "/real_time";
        const std::string lim = std::string("Access/limit_") + n + "/real_time";
        ratio((std::string("TOP form, ") + n + " hits / SQLite engine").c_str(), top.c_str(),
              sq.c_str(), 1.2);
        ratio((std::string("LIMIT form, ") + n + " hits / SQLite engine").c_str(), lim.c_str(),
              sq.c_str(), 1.2);
    }
}

} // namespace

int main(int argc, char** argv) {
    long rows = 114000;
    bool rowsGiven = false;
    for (int i = 1; i < argc; ++i)
        rowsGiven = rowsGiven || std::string(argv[i]).rfind("--rows=", 0) == 0;
    std::vector<char*> args(argv, argv + argc);
    std::string defaultRows = "--rows=114000";
    if (!rowsGiven) args.insert(args.begin() + 1, defaultRows.data());
    int n = int(args.size());
    try {
        gSqlite = syntheticDbFromArgs(n, args.data(), rows);
        gMdb = accessCopy(gSqlite);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_access: %s\n", e.what());
        return 1;
    }
    gCache = fs::path(gSqlite).parent_path().string() + "/tvdb-bench-cache";
    ::setenv("XDG_CACHE_HOME", gCache.c_str(), 1);
    benchmark::Initialize(&n, args.data());
    std::fprintf(stderr, "databases: %s, %s (%ld rows)\n", gSqlite.c_str(), gMdb.c_str(), rows);
    registerAll();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatios(reporter.seconds);
    benchmark::Shutdown();
    return 0;
}
