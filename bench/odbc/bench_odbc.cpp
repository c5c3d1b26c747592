// The host's query command through the ODBC engine on a PostgreSQL server (psqlODBC, Unix
// socket) against libpq with the same SQL, on a synthetic table of N rows.
//   bench_odbc [--rows=N] [--db-dir=DIR] [--pg-dir=DIR] [benchmark options]
// The server: the one whose socket is in --pg-dir (a cluster of scripts/pg-test-cluster.sh),
// else a private one started in a temporary folder and stopped at the end. The table is
// loaded once (from the synthetic SQLite database of bench_db, through tarvish-mkdb's
// PostgreSQL writer, whose rows/s are printed) and reused while its row count matches.
// Pair/N times the command and libpq back to back on a window of N hits around 400 Da
// (paired.h): wall-time ratio, the server's work included. Pair/ reads the .dsn as the host
// does by default (libpq, pg_engine.h); PairOdbc/ with Client=odbc, through psqlODBC.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "db_engines.h"
#include "paired.h"
#include "pg_writer.h"
#include "synthetic_db.h"

namespace {

std::string gDbPath, gPgDir, gDsn, gOdbcDsn;
long gRows = 1000000;
bool gOwnServer = false;

std::string readerConninfo() {
    return "host=" + gPgDir + " dbname=tvtest user=tvreader password=tv-reader-pw";
}

std::string scriptPath() {
    return std::string(TW_SOURCE_DIR) + "/scripts/pg-test-cluster.sh";
}

PGconn* connect(const std::string& conninfo) {
    PGconn* c = PQconnectdb(conninfo.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
        std::string m = PQerrorMessage(c);
        PQfinish(c);
        throw std::runtime_error("cannot connect (" + conninfo + "): " + m);
    }
    return c;
}

std::string scalar(PGconn* c, const std::string& sql) {
    PGresult* r = PQexec(c, sql.c_str());
    std::string v = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
    PQclear(r);
    return v;
}

// Loads the synthetic rows into the table molecules unless it holds them already.
void ensureTable() {
    PGconn* admin = connect("host=" + gPgDir + " dbname=tvtest user=tvadmin");
    const std::string have =
        scalar(admin, "SELECT rows FROM synthetic_info WHERE rows = " + std::to_string(gRows));
    PQfinish(admin);
    if (!have.empty()) return;

    sqlite3* h = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_open_v2(gDbPath.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(h, "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules ORDER BY ID",
                           -1, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot read " + gDbPath);
    mkdb::PgOptions o;
    o.conninfo = "host=" + gPgDir + " dbname=tvtest user=tvadmin";
    o.readonlyRole = "tvreader";
    std::string error;
    auto writer = mkdb::openPgWriter(o, error);
    if (!writer) throw std::runtime_error(error);
    const auto t0 = std::chrono::steady_clock::now();
    long long n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        mkdb::Row r;
        r.mass = sqlite3_column_double(st, 1);
        r.formula = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
        r.name = reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
        r.smiles = reinterpret_cast<const char*>(sqlite3_column_text(st, 4));
        if (!writer->add(sqlite3_column_int64(st, 0), r, error)) throw std::runtime_error(error);
        ++n;
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    if (!writer->finish(error)) throw std::runtime_error(error);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::fprintf(stderr, "loaded %lld rows into PostgreSQL in %.1f s: %.0f rows/s\n", n, s,
                 double(n) / s);
    admin = connect("host=" + gPgDir + " dbname=tvtest user=tvadmin");
    PQclear(PQexec(admin, "DROP TABLE IF EXISTS synthetic_info"));
    PQclear(PQexec(admin, ("CREATE TABLE synthetic_info AS SELECT " + std::to_string(gRows) +
                           "::bigint AS rows").c_str()));
    PQfinish(admin);
}

std::string windowSql(double low, double high, int limit) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > %.6f) "
                  "AND (MassMI < %.6f) ORDER BY MassMI ASC LIMIT %d;",
                  low, high, limit);
    return buf;
}

// A window around 400 Da holding hits rows (a little more, cut by the limit).
std::string hitsSql(int hits) {
    PGconn* c = connect(readerConninfo());
    const std::string half = std::to_string(hits / 2 + hits / 10);
    const double low = std::atof(scalar(c, "SELECT massmi FROM molecules WHERE massmi < 400 ORDER "
                                           "BY massmi DESC LIMIT 1 OFFSET " + half).c_str());
    const double high = std::atof(scalar(c, "SELECT massmi FROM molecules WHERE massmi > 400 "
                                            "ORDER BY massmi ASC LIMIT 1 OFFSET " + half).c_str());
    PQfinish(c);
    return windowSql(low, high, hits);
}

// The same statement through libpq: every value of every row read.
size_t libpqOnce(PGconn* c, const std::string& sql) {
    PGresult* r = PQexec(c, sql.c_str());
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        PQclear(r);
        return size_t(-1);
    }
    const int rows = PQntuples(r), cols = PQnfields(r);
    size_t sum = 0;
    for (int i = 0; i < rows; ++i)
        for (int f = 0; f < cols; ++f) {
            benchmark::DoNotOptimize(PQgetvalue(r, i, f));
            sum += size_t(PQgetlength(r, i, f));
        }
    benchmark::DoNotOptimize(sum);
    PQclear(r);
    return size_t(rows);
}

void pairedQuery(benchmark::State& state, const std::string& dsn, const std::string& sql) {
    DbEngines db;
    CommandResult open = db.dbOpen("\"" + dsn + "\"");
    if (open.code != 0) {
        state.SkipWithError(open.text.c_str());
        return;
    }
    PGconn* c = connect(readerConninfo());
    const std::string args = open.text + " \"" + sql + "\"";
    size_t rows = 0;
    CommandResult r;
    benchpair::run(
        state,
        [&] {
            rows = libpqOnce(c, sql);
            if (rows == size_t(-1)) state.SkipWithError("libpq query failed");
            return rows != size_t(-1);
        },
        [&] {
            r = db.dbSqlExec(args);
            if (r.code != 0) state.SkipWithError(r.text.c_str());
            return r.code == 0;
        });
    state.counters["rows"] = double(rows);
    state.counters["bytes"] = double(r.text.size());
    PQfinish(c);
}

void startServer() {
    namespace fs = std::filesystem;
    if (!gPgDir.empty() && fs::exists(gPgDir + "/.s.PGSQL.5432")) return;
    if (gPgDir.empty()) {
        std::string tmpl = (fs::temp_directory_path() / "tvpg-bench-XXXXXX").string();
        if (!mkdtemp(&tmpl[0])) throw std::runtime_error("cannot make a temporary folder");
        gPgDir = tmpl;
    }
    const std::string cmd = "'" + scriptPath() + "' start '" + gPgDir + "' " +
                            std::to_string(::getpid());
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot start PostgreSQL: " + cmd);
    gOwnServer = true;
}

void stopServer() {
    if (!gOwnServer) return;
    const std::string cmd = "'" + scriptPath() + "' stop '" + gPgDir + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "bench_odbc: %s failed\n", cmd.c_str());
}

} // namespace

int main(int argc, char** argv) {
    try {
        int kept = 0;
        for (int i = 0; i < argc; ++i) {
            if (std::strncmp(argv[i], "--pg-dir=", 9) == 0)
                gPgDir = argv[i] + 9;
            else
                argv[kept++] = argv[i];
        }
        argc = kept;
        gDbPath = syntheticDbFromArgs(argc, argv, gRows);
        startServer();
        ensureTable();
        gDsn = gPgDir + "/bench.dsn";
        gOdbcDsn = gPgDir + "/bench-odbc.dsn";
        const std::string keys = "[ODBC]\nDRIVER=PostgreSQL Unicode\nSERVER=" + gPgDir +
                                 "\nPORT=5432\nDATABASE=tvtest\nUID=tvreader\nPWD=tv-reader-pw\n";
        std::ofstream(gDsn) << keys;
        std::ofstream(gOdbcDsn) << keys << "Client=odbc\n";
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_odbc: %s\n", e.what());
        stopServer();
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    std::fprintf(stderr, "table molecules: %ld rows; server %s\n", gRows, gPgDir.c_str());
    for (int hits : {10, 200, 10000}) {
        const std::string sql = hitsSql(hits);
        benchmark::RegisterBenchmark(("Pair/" + std::to_string(hits)).c_str(),
                                     [sql](benchmark::State& s) { pairedQuery(s, gDsn, sql); })
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("PairOdbc/" + std::to_string(hits)).c_str(),
                                     [sql](benchmark::State& s) { pairedQuery(s, gOdbcDsn, sql); })
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stopServer();
    return 0;
}
