// The host's query command against a bare SQLite query, on a synthetic database of N rows.
//   bench_db [--rows=N] [--db-dir=DIR] [benchmark options]
// The database is made once (DIR/tvdb-bench-N.db, default DIR /tmp) and reused.
// Pair/N times the command and the bare query back to back on a window of N hits around
// 400 Da and reports their ratio (paired.h): the cost of building the answer.
// PairOdbc/N does the same through the SQLite ODBC driver: the command on a .dsn of the
// database against a bare block fetch through the driver (the same bound arrays, every value
// looked at).
#include <benchmark/benchmark.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "db_engines.h"
#include "paired.h"
#include "synthetic_db.h"

namespace {

std::string gDbPath;
long gRows = 1000000;

// The plug-in's LIMIT-dialect query with bounds printed with six decimals.
std::string windowSql(double low, double high, int limit) {
    auto six = [](double v) {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
        return std::string(buf, r.ptr);
    };
    return "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > " + six(low) +
           ") AND (MassMI < " + six(high) + ") ORDER BY MassMI ASC LIMIT " + std::to_string(limit) +
           ";";
}

struct Window {
    double low, high;
    int limit;
};

// A 5 ppm window around the first stored mass at or above target, as a user searching a
// measured mass of a real compound does.
Window ppmWindow(double target) {
    sqlite3* h = nullptr;
    sqlite3_open_v2(gDbPath.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    double mass = target;
    if (sqlite3_prepare_v2(h,
                           "SELECT MassMI FROM Molecules WHERE MassMI >= ? ORDER BY MassMI "
                           "LIMIT 1",
                           -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_double(st, 1, target);
        if (sqlite3_step(st) == SQLITE_ROW) mass = sqlite3_column_double(st, 0);
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    const double tol = mass / 1e6 * 5;
    return {mass - tol, mass + tol, 200};
}

// A window around 400 Da holding about hits rows (half below, half above), found from the
// data; the limit lets every row through.
Window hitsWindow(int hits) {
    sqlite3* h = nullptr;
    sqlite3_open_v2(gDbPath.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    auto at = [&](const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        double v = 400;
        if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            v = sqlite3_column_double(st, 0);
        sqlite3_finalize(st);
        return v;
    };
    const std::string half = std::to_string(hits / 2 + hits / 10);
    double low = at("SELECT MassMI FROM Molecules WHERE MassMI < 400 ORDER BY MassMI DESC "
                    "LIMIT 1 OFFSET " + half);
    double high = at("SELECT MassMI FROM Molecules WHERE MassMI > 400 ORDER BY MassMI ASC "
                     "LIMIT 1 OFFSET " + half);
    sqlite3_close(h);
    return Window{low, high, hits};
}

Window wideWindow() {
    static Window w = [] {
        Window x = hitsWindow(10000);
        x.limit = 100000;
        return x;
    }();
    return w;
}

void engineQuery(benchmark::State& state, const Window& w) {
    DbEngines db;
    CommandResult open = db.dbOpen("\"" + gDbPath + "\"");
    if (open.code != 0) {
        state.SkipWithError(open.text.c_str());
        return;
    }
    const std::string args = open.text + " \"" + windowSql(w.low, w.high, w.limit) + "\"";
    CommandResult r;
    for (auto _ : state) {
        r = db.dbSqlExec(args);
        if (r.code != 0) {
            state.SkipWithError(r.text.c_str());
            return;
        }
        benchmark::DoNotOptimize(r.text.data());
    }
    const size_t rows = size_t(std::count(r.text.begin(), r.text.end(), '\n'));
    const size_t bytes = r.text.size();
    state.counters["rows"] = double(rows);
    state.counters["bytes"] = double(bytes);
}

// The same statement through the SQLite C API: prepare, step, read every column. Returns the
// row count.
size_t bareOnce(sqlite3* h, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr);
    size_t rows = 0, sum = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        sum += size_t(sqlite3_column_int64(st, 0));
        benchmark::DoNotOptimize(sqlite3_column_double(st, 1));
        for (int i = 2; i < 5; ++i) {
            benchmark::DoNotOptimize(sqlite3_column_text(st, i));
            sum += size_t(sqlite3_column_bytes(st, i));
        }
        ++rows;
    }
    sqlite3_finalize(st);
    benchmark::DoNotOptimize(sum);
    return rows;
}

// The command as the measured side of a pair (paired.h): false, after SkipWithError, when it
// fails.
std::function<bool()> command(benchmark::State& state, DbEngines& db, const std::string& args,
                              CommandResult& r) {
    return [&state, &db, &args, &r] {
        r = db.dbSqlExec(args);
        if (r.code != 0) state.SkipWithError(r.text.c_str());
        return r.code == 0;
    };
}

// The command and the bare query back to back in every iteration. The bare query's
// connection is opened with flags: SQLITE_OPEN_NOMUTEX as the engine's own (the strict floor),
// or without it (SQLite's default serialized connection, the floor of the earlier figures).
void pairedQuery(benchmark::State& state, const Window& w, int flags) {
    DbEngines db;
    CommandResult open = db.dbOpen("\"" + gDbPath + "\"");
    sqlite3* h = nullptr;
    if (open.code != 0 ||
        sqlite3_open_v2(gDbPath.c_str(), &h, SQLITE_OPEN_READONLY | flags, nullptr) != SQLITE_OK) {
        state.SkipWithError(open.code ? open.text.c_str() : "cannot open the database");
        sqlite3_close(h);
        return;
    }
    const std::string sql = windowSql(w.low, w.high, w.limit);
    const std::string args = open.text + " \"" + sql + "\"";
    size_t rows = 0;
    CommandResult r;
    benchpair::run(
        state, [&] { return (rows = bareOnce(h, sql)), true; },
        command(state, db, args, r));
    state.counters["rows"] = double(rows);
    sqlite3_close(h);
}

// A bare read through the SQLite ODBC driver: the statement run, its columns described and
// bound as arrays of 256 rows as the engine binds them (8-byte numbers; texts 2048 bytes wide,
// the width the engine gives texts the driver declares without a length), every block
// fetched and every value's length looked at.
class BareOdbc {
  public:
    explicit BareOdbc(const std::string& db) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        std::string in = "DRIVER=SQLite3;DATABASE=" + db + ";";
        ok_ = SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, nullptr,
                                             0, nullptr, SQL_DRIVER_NOPROMPT)) &&
              SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st_));
    }
    ~BareOdbc() {
        if (st_) SQLFreeHandle(SQL_HANDLE_STMT, st_);
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    bool ok() const { return ok_; }

    // Returns the row count, or -1.
    long once(const std::string& sql) {
        constexpr SQLULEN kRows = 256;
        constexpr size_t kText = 2048;
        SQLFreeStmt(st_, SQL_CLOSE);
        if (!SQL_SUCCEEDED(SQLExecDirect(st_, (SQLCHAR*)sql.c_str(), SQLINTEGER(sql.size()))))
            return -1;
        SQLSMALLINT n = 0;
        SQLNumResultCols(st_, &n);
        data_.resize(size_t(n) * kRows * kText);
        lengths_.resize(size_t(n) * kRows);
        SQLSetStmtAttr(st_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0);
        SQLSetStmtAttr(st_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
        for (SQLSMALLINT i = 0; i < n; ++i) {
            SQLSMALLINT type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLDescribeCol(st_, SQLUSMALLINT(i + 1), nullptr, 0, nullptr, &type, &size, &digits,
                           &nullable);
            const bool number = type == SQL_INTEGER || type == SQL_BIGINT || type == SQL_DOUBLE ||
                                type == SQL_FLOAT || type == SQL_REAL;
            const SQLSMALLINT ctype = !number ? SQL_C_CHAR
                                      : type == SQL_INTEGER || type == SQL_BIGINT ? SQL_C_SBIGINT
                                                                                   : SQL_C_DOUBLE;
            SQLBindCol(st_, SQLUSMALLINT(i + 1), ctype, &data_[size_t(i) * kRows * kText],
                       SQLLEN(number ? 8 : kText), &lengths_[size_t(i) * kRows]);
        }
        long rows = 0;
        size_t sum = 0;
        while (SQL_SUCCEEDED(SQLFetch(st_))) {
            for (SQLULEN r = 0; r < fetched_; ++r)
                for (SQLSMALLINT i = 0; i < n; ++i)
                    sum += size_t(lengths_[size_t(i) * kRows + r]);
            rows += long(fetched_);
        }
        benchmark::DoNotOptimize(sum);
        SQLFreeStmt(st_, SQL_UNBIND);
        return rows;
    }

  private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    SQLHSTMT st_ = SQL_NULL_HSTMT;
    SQLULEN fetched_ = 0;
    std::vector<char> data_;
    std::vector<SQLLEN> lengths_;
    bool ok_ = false;
};

void pairedOdbcQuery(benchmark::State& state, const Window& w) {
    const std::string dsn = gDbPath + ".dsn";
    std::ofstream(dsn) << "[ODBC]\nDRIVER=SQLite3\nDATABASE=" << gDbPath << "\n";
    DbEngines db;
    CommandResult open = db.dbOpen("\"" + dsn + "\"");
    BareOdbc bare(gDbPath);
    if (open.code != 0 || !bare.ok()) {
        state.SkipWithError(open.code ? open.text.c_str() : "cannot connect through the driver");
        return;
    }
    const std::string sql = windowSql(w.low, w.high, w.limit);
    const std::string args = open.text + " \"" + sql + "\"";
    long rows = 0;
    CommandResult r;
    benchpair::run(
        state,
        [&] {
            rows = bare.once(sql);
            if (rows < 0) state.SkipWithError("the bare query failed");
            return rows >= 0;
        },
        command(state, db, args, r));
    state.counters["rows"] = double(rows);
}

void bareQuery(benchmark::State& state, const Window& w) {
    sqlite3* h = nullptr;
    if (sqlite3_open_v2(gDbPath.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        state.SkipWithError("cannot open the database");
        return;
    }
    const std::string sql = windowSql(w.low, w.high, w.limit);
    size_t rows = 0;
    for (auto _ : state)
        rows = bareOnce(h, sql);
    state.counters["rows"] = double(rows);
    sqlite3_close(h);
}

void registerAll() {
    for (double mass : {180.0634, 400.0, 800.0, 1500.0}) {
        const std::string m = std::to_string(int(mass));
        benchmark::RegisterBenchmark(("Engine_5ppm/" + m).c_str(), [mass](benchmark::State& s) {
            engineQuery(s, ppmWindow(mass));
        })->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Bare_5ppm/" + m).c_str(), [mass](benchmark::State& s) {
            bareQuery(s, ppmWindow(mass));
        })->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("Engine_wide10k", [](benchmark::State& s) {
        engineQuery(s, wideWindow());
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Bare_wide10k", [](benchmark::State& s) {
        bareQuery(s, wideWindow());
    })->Unit(benchmark::kMillisecond);
    for (int hits : {10, 200, 10000}) {
        const Window w = hitsWindow(hits);
        benchmark::RegisterBenchmark(("Pair/" + std::to_string(hits)).c_str(),
                                     [w](benchmark::State& s) {
                                         pairedQuery(s, w, SQLITE_OPEN_NOMUTEX);
                                     })
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("PairSerialized/" + std::to_string(hits)).c_str(),
                                     [w](benchmark::State& s) { pairedQuery(s, w, 0); })
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("PairOdbc/" + std::to_string(hits)).c_str(),
                                     [w](benchmark::State& s) { pairedOdbcQuery(s, w); })
            ->Unit(benchmark::kMicrosecond);
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        gDbPath = syntheticDbFromArgs(argc, argv, gRows);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_db: %s\n", e.what());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    std::fprintf(stderr, "database: %s (%ld rows)\n", gDbPath.c_str(), gRows);
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
