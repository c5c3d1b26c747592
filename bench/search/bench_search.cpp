// The search's speed on a synthetic database of N rows (default 1,000,000),
// for windows of about 10, 200 and 10,000 hits around 400 Da:
//   ClickToList  BT_SearchClick until the list is filled: the host's real
//                interpreter and SQLite engine, the answer's parse, RowIds,
//                RowSmiles and the list items;
//   ClickToPaint the same, up to the list's first paint of the new rows;
//   HostQuery    the same query command through the host's interpreter alone;
//   BareSqlite   the same SELECT with the SQLite C API, every column read.
// Median and maximum per iteration are reported as counters (ms).
//   bench_search [--rows=N] [--db-dir=DIR] [benchmark options]
// The database is made once (DIR/tvdb-bench-N.db, default DIR /tmp, shared
// with bench_db) and reused.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dlg_main.h"
#include "plugin_state.h"
#include "synthetic_db.h"
#include "test_host.h"

extern "C" TW_PLUGINFO* Init(TW_INFO*);
extern "C" int32_t Call(int32_t);
extern "C" int32_t Free(void);

namespace {

constexpr double Centre = 400.0;
std::string gDbPath;
long gRows = 1000000;

struct Window {
    long target;
    double ppm;
    long hits; // rows strictly inside the window as the plug-in prints it
};
std::vector<Window> gWindows;

std::string Six(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v); // the benchmark runs in the C locale
    return buf;
}

// The plug-in's query (LIMIT form) for a window around Centre.
std::string WindowSql(double ppm, long limit) {
    const double tol = Centre / 1e6 * ppm;
    return "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > " +
           Six(Centre - tol) + ") AND (MassMI < " + Six(Centre + tol) +
           ") ORDER BY MassMI ASC LIMIT " + std::to_string(limit) + ";";
}

long CountHits(sqlite3* h, double ppm) {
    const double tol = Centre / 1e6 * ppm;
    const std::string sql = "SELECT COUNT(*) FROM Molecules WHERE (MassMI > " + Six(Centre - tol) +
                            ") AND (MassMI < " + Six(Centre + tol) + ")";
    sqlite3_stmt* st = nullptr;
    long n = -1;
    if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        n = static_cast<long>(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    return n;
}

// The tolerance that holds about target rows, found by bisection on the data.
Window FindWindow(sqlite3* h, long target) {
    double lo = 1e-3, hi = 1e6;
    for (int i = 0; i < 60; ++i) {
        const double mid = std::sqrt(lo * hi);
        (CountHits(h, mid) < target ? lo : hi) = mid;
    }
    return {target, hi, CountHits(h, hi)};
}

// The plug-in, initialised by the test host with the real interpreter, its
// dialog shown and the synthetic database chosen.
struct Stage {
    QTemporaryDir data;
    std::unique_ptr<TestHost> host;
    TDlgQvMain* d = nullptr;
    bool ok = false;
    Stage() {
        const std::string dir = data.path().toStdString() + "/";
        QDir(data.path()).mkpath("Databases");
        std::error_code ec;
        std::filesystem::create_symlink(gDbPath, dir + "Databases/Synthetic.db", ec);
        if (ec) return;
        host = std::make_unique<TestHost>();
        std::snprintf(host->info.IniFile, sizeof host->info.IniFile, "%s",
                      (dir + "settings.ini").c_str());
        host->useRealInterpreter("english", dir);
        Init(&host->info);
        Call(101);
        d = DlgQvMain;
        const int entry = d->ui.CB_Database->findText("Synthetic");
        d->ui.CB_Database->setCurrentIndex(entry);
        emit d->ui.CB_Database->activated(entry);
        ok = entry > 0 && !d->DbName.empty();
    }
    ~Stage() {
        if (host) Free();
    }
};
Stage* gStage = nullptr;

void Report(benchmark::State& state, std::vector<double>& ms, long rows) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) return;
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["max_ms"] = ms.back();
    state.counters["rows"] = static_cast<double>(rows);
}

// The search fields for window w, and one search to warm up (renderer, caches).
void SetUpSearch(TDlgQvMain* d, const Window& w) {
    d->ui.CB_Mass->setCurrentIndex(1);
    d->ui.STR_Mass->setText(QString::number(Centre, 'f', 1));
    d->ui.STR_Ppm->setText(QString::number(w.ppm, 'g', 17));
    d->ui.STR_MaxResults->setText("100000");
    d->BT_SearchClick();
}

bool HoldsWindow(TDlgQvMain* d, const Window& w) {
    return d->ui.LV_Results->topLevelItemCount() == w.hits &&
           d->ui.LBL_FoundNumVal->text().toLong() == w.hits;
}

void BM_ClickToList(benchmark::State& state) {
    const Window& w = gWindows.at(static_cast<size_t>(state.range(0)));
    TDlgQvMain* d = gStage->d;
    SetUpSearch(d, w);
    std::vector<double> ms;
    long rows = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        d->BT_SearchClick();
        const double e = static_cast<double>(t.nsecsElapsed()) / 1e6;
        state.SetIterationTime(e / 1e3);
        ms.push_back(e);
        rows = d->ui.LV_Results->topLevelItemCount();
    }
    if (!HoldsWindow(d, w)) state.SkipWithError("the list does not hold the window's rows");
    Report(state, ms, rows);
}

// The same, up to the list's first paint with the new rows.
void BM_ClickToPaint(benchmark::State& state) {
    const Window& w = gWindows.at(static_cast<size_t>(state.range(0)));
    TDlgQvMain* d = gStage->d;
    SetUpSearch(d, w);
    if (!d->ui.LV_Results->viewport()->isVisible() || !d->ui.LV_Results->isVisibleTo(d)) {
        state.SkipWithError("the list is not on show");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        d->BT_SearchClick();
        d->ui.LV_Results->viewport()->repaint();
        const double e = static_cast<double>(t.nsecsElapsed()) / 1e6;
        state.SetIterationTime(e / 1e3);
        ms.push_back(e);
    }
    if (!HoldsWindow(d, w)) state.SkipWithError("the list does not hold the window's rows");
    Report(state, ms, d->ui.LV_Results->topLevelItemCount());
}

void BM_HostQuery(benchmark::State& state) {
    const Window& w = gWindows.at(static_cast<size_t>(state.range(0)));
    const std::string cmd =
        "DbSqlExec " + gStage->d->DbName + " \"" + WindowSql(w.ppm, 100000) + "\"";
    std::vector<double> ms;
    size_t bytes = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        CommandResult r = gStage->host->fallback(cmd);
        const double e = static_cast<double>(t.nsecsElapsed()) / 1e6;
        state.SetIterationTime(e / 1e3);
        ms.push_back(e);
        if (r.code != 0) state.SkipWithError(r.text.c_str());
        bytes = r.text.size();
    }
    Report(state, ms, w.hits);
    state.counters["answer_bytes"] = static_cast<double>(bytes);
}

void BM_BareSqlite(benchmark::State& state) {
    const Window& w = gWindows.at(static_cast<size_t>(state.range(0)));
    sqlite3* h = nullptr;
    sqlite3_open_v2(gDbPath.c_str(), &h, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    const std::string sql = WindowSql(w.ppm, 100000);
    std::vector<double> ms;
    long rows = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr);
        rows = 0;
        size_t sink = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            ++rows;
            for (int i = 0; i < 5; ++i)
                sink += static_cast<size_t>(sqlite3_column_bytes(st, i)) +
                        (sqlite3_column_text(st, i) ? 1 : 0);
        }
        sqlite3_finalize(st);
        benchmark::DoNotOptimize(sink);
        const double e = static_cast<double>(t.nsecsElapsed()) / 1e6;
        state.SetIterationTime(e / 1e3);
        ms.push_back(e);
    }
    sqlite3_close(h);
    Report(state, ms, rows);
}

} // namespace

int main(int argc, char** argv) {
    try {
        gDbPath = syntheticDbFromArgs(argc, argv, gRows);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_search: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "synthetic database of %ld rows: %s\n", gRows, gDbPath.c_str());
    benchmark::Initialize(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    sqlite3* h = nullptr;
    sqlite3_open_v2(gDbPath.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    for (long target : {10L, 200L, 10000L})
        gWindows.push_back(FindWindow(h, target));
    sqlite3_close(h);
    for (const Window& w : gWindows)
        std::fprintf(stderr, "window %ld: %.6g ppm around %.1f Da, %ld hits\n", w.target, w.ppm,
                     Centre, w.hits);

    Stage stage;
    if (!stage.ok) {
        std::fprintf(stderr, "bench_search: the plug-in could not open %s\n", gDbPath.c_str());
        return 1;
    }
    gStage = &stage;
    for (int i = 0; i < 3; ++i) {
        const std::string label = std::to_string(gWindows[static_cast<size_t>(i)].hits) + "_hits";
        benchmark::RegisterBenchmark(("ClickToList/" + label).c_str(), BM_ClickToList)
            ->Arg(i)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
        benchmark::RegisterBenchmark(("ClickToPaint/" + label).c_str(), BM_ClickToPaint)
            ->Arg(i)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
        benchmark::RegisterBenchmark(("HostQuery/" + label).c_str(), BM_HostQuery)
            ->Arg(i)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
        benchmark::RegisterBenchmark(("BareSqlite/" + label).c_str(), BM_BareSqlite)
            ->Arg(i)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gStage = nullptr;
    return 0;
}
