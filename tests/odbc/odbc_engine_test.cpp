// The .dsn engines against real servers: the shared PostgreSQL copy of the demo metabolites
// (CTest fixture), private clusters that are stopped and restarted, and the SQLite ODBC
// driver on the demo database itself. Every answer is compared with the SQLite engine's.
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

#include "db_engines.h"
#include "dsn_file.h"
#include "odbc_engine.h"
#include "odbc_test_util.h"
#include "pg_engine.h"

using namespace odbctest;

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "tvodbc-XXXXXX").string();
        if (mkdtemp(&tmpl[0])) path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

double seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string windowSql(double low, double high, int limit) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > %.6f) "
                  "AND (MassMI < %.6f) ORDER BY MassMI ASC LIMIT %d;",
                  low, high, limit);
    return buf;
}

// Opens path and runs sql; the answer, or a failure.
struct Opened {
    DbEngines db;
    std::string handle;
    CommandResult open;
    explicit Opened(const std::string& path) {
        open = db.dbOpen("\"" + path + "\"");
        handle = open.text;
    }
    CommandResult exec(const std::string& sql) { return db.dbSqlExec(handle + " \"" + sql + "\""); }
    std::string format() { return db.dbInfo(handle + " Format").text; }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// The text of v with 15 significant digits, read back and written as the answer writes reals:
// what a driver that passes reals as "%.15g" text delivers.
std::string fifteenDigits(const std::string& mass) {
    double v = std::atof(mass.c_str());
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    v = std::atof(buf);
    std::string out;
    char b[64];
    auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed);
    return std::string(b, r.ptr);
}

// Compares two answers line by line; the masses of "fifteen" may be the other's masses cut to
// 15 significant digits (the SQLite ODBC driver's way). Returns the number of such masses.
int expectSameRows(const std::string& want, const std::string& got, bool fifteen,
                   const char* what) {
    SCOPED_TRACE(what);
    const std::vector<std::string> a = lines(want), b = lines(got);
    EXPECT_EQ(a.size(), b.size());
    int cut = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (a[i] == b[i]) continue;
        const size_t pa = a[i].find(';'), qa = a[i].find(';', pa + 1);
        const size_t pb = b[i].find(';'), qb = b[i].find(';', pb + 1);
        const std::string massA = a[i].substr(pa + 1, qa - pa - 1), massB = b[i].substr(pb + 1, qb - pb - 1);
        if (fifteen && a[i].substr(0, pa) == b[i].substr(0, pb) && a[i].substr(qa) == b[i].substr(qb) &&
            fifteenDigits(massA) == massB) {
            ++cut;
            continue;
        }
        ADD_FAILURE() << "row " << i << " differs:\n  " << a[i] << "\n  " << b[i];
        return cut;
    }
    return cut;
}

struct SharedServer : ::testing::Test {
    TempDir tmp;
    std::string server, pgDsn, odbcDsn, sqliteDsn, demo;

    void SetUp() override {
        server = sharedServer();
        demo = demoDb();
        ASSERT_FALSE(server.empty());
        ASSERT_TRUE(fs::exists(demo));
        // The .dsn tarvish-mkdb wrote, with the password added; the same through psqlODBC.
        std::ifstream in(server + "/Metabolites.dsn");
        std::stringstream written;
        written << in.rdbuf();
        ASSERT_NE(std::string::npos, written.str().find("UID=tvreader")) << written.str();
        pgDsn = tmp.file("Metabolites PG.dsn");
        std::ofstream(pgDsn) << written.str() << "PWD=tv-reader-pw\n";
        odbcDsn = tmp.file("Metabolites ODBC.dsn");
        std::ofstream(odbcDsn) << written.str() << "PWD=tv-reader-pw\nClient=odbc\n";
        sqliteDsn = tmp.file("Metabolites SQLite.dsn");
        std::ofstream(sqliteDsn) << "[ODBC]\nDRIVER=SQLite3\nDATABASE=" << demo << "\n";
    }
};

TEST_F(SharedServer, EveryEngineAnswersTheSameRowsAsTheSqliteFile) {
    Opened file(demo), pg(pgDsn), odbc(odbcDsn), sqlite(sqliteDsn);
    ASSERT_EQ(0, file.open.code) << file.open.text;
    ASSERT_EQ(0, pg.open.code) << pg.open.text;
    ASSERT_EQ(0, odbc.open.code) << odbc.open.text;
    ASSERT_EQ(0, sqlite.open.code) << sqlite.open.text;
    EXPECT_EQ("POSTGRESQL", pg.format());
    EXPECT_EQ("POSTGRESQL", odbc.format());
    EXPECT_EQ("SQLITE", sqlite.format());

    // The plug-in's windows (5 ppm, limit 200, and a wide one up to the limit): the hexoses,
    // caffeine, and masses of rows spread over the table.
    std::vector<double> masses = {180.0634, 194.0804};
    for (int id : {1000, 20000, 50000, 80000, 110000}) {
        const std::string row = lines(file.exec("SELECT ID, MassMI FROM Molecules WHERE ID = " +
                                                std::to_string(id)).text).at(0);
        masses.push_back(std::atof(row.substr(row.find(';') + 1).c_str()));
    }
    int cut = 0;
    for (double m : masses) {
        const double tol = m / 1e6 * 5;
        const std::string sql = windowSql(m - tol, m + tol, 200);
        const CommandResult want = file.exec(sql);
        ASSERT_EQ(0, want.code) << want.text;
        ASSERT_FALSE(want.text.empty()) << m;
        const CommandResult a = pg.exec(sql), b = odbc.exec(sql), c = sqlite.exec(sql);
        ASSERT_EQ(0, a.code) << a.text;
        ASSERT_EQ(0, b.code) << b.text;
        ASSERT_EQ(0, c.code) << c.text;
        EXPECT_EQ(want.text, a.text) << m;
        EXPECT_EQ(want.text, b.text) << m;
        cut += expectSameRows(want.text, c.text, true, "SQLite ODBC");
    }
    const std::string wide = windowSql(300, 320, 200);
    EXPECT_EQ(file.exec(wide).text, pg.exec(wide).text);
    EXPECT_EQ(200u, lines(pg.exec(wide).text).size());

    // Every row of the table, names beyond ASCII included (sorted: equal masses may come in
    // any order from a sort).
    const std::string all = "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules";
    auto sorted = [](std::string text) {
        std::vector<std::string> l = lines(text);
        std::sort(l.begin(), l.end());
        std::string out;
        for (const std::string& x : l)
            out += x + "\n";
        return out;
    };
    const std::string want = sorted(file.exec(all).text);
    EXPECT_GT(lines(want).size(), 100000u);
    EXPECT_NE(std::string::npos, want.find("(\xC2\xB1)-2-Methylbutanal")) << "no non-ASCII name";
    EXPECT_EQ(want, sorted(pg.exec(all).text));
    EXPECT_EQ(want, sorted(odbc.exec(all).text));
    cut += expectSameRows(want, sorted(sqlite.exec(all).text), true, "SQLite ODBC, every row");
    // The SQLite ODBC driver passes reals as text of 15 significant digits: exact for masses
    // of six decimals, cut for longer ones.
    std::printf("masses cut to 15 digits by the SQLite ODBC driver: %d\n", cut);

    DbEngines::Molecule m;
    pg.db.onLoadMolecule = [&](const DbEngines::Molecule& x) { m = x; };
    const std::string first = lines(file.exec(windowSql(180.0625, 180.0643, 1)).text).at(0);
    const std::string id = first.substr(0, first.find(';'));
    ASSERT_EQ(0, pg.db.dbGetRowId(pg.handle + " " + id + " Replace").code);
    EXPECT_EQ(id, std::to_string(m.id));
    EXPECT_EQ("C6H12O6", m.formula);
    EXPECT_EQ(DB_UNKNOWN_ROW, pg.db.dbGetRowId(pg.handle + " 99999999 Replace").code);
    odbc.db.onLoadMolecule = [&](const DbEngines::Molecule& x) { m = x; };
    ASSERT_EQ(0, odbc.db.dbGetRowId(odbc.handle + " " + id + " Replace").code);
    EXPECT_EQ("C6H12O6", m.formula);
}

TEST_F(SharedServer, OnlyReadingStatementsReachTheServer) {
    const std::string before = tableChecksum(server);
    ASSERT_EQ(std::string::npos, before.find("error")) << before;
    const char* writes[] = {
        "INSERT INTO Molecules VALUES (999999, 1, 'X', 'x', 'C')",
        "UPDATE Molecules SET Name = 'x'",
        "DELETE FROM Molecules",
        "DROP TABLE Molecules",
        "COPY Molecules TO STDOUT",
        "SELECT 1; SELECT 2",
        "SELECT * FROM Molecules WHERE ID = 1; DROP TABLE Molecules",
        "SELECT * INTO Stolen FROM Molecules",
        "SELECT set_config('default_transaction_read_only', 'off', false)",
        "TRUNCATE Molecules",
        "SELECT * FROM Molecules FOR UPDATE",
    };
    for (const std::string& dsn : {pgDsn, odbcDsn, sqliteDsn}) {
        SCOPED_TRACE(dsn);
        Opened o(dsn);
        ASSERT_EQ(0, o.open.code) << o.open.text;
        for (const char* w : writes) {
            const CommandResult r = o.exec(w);
            EXPECT_EQ(DB_NOT_READ_ONLY, r.code) << w << ": " << r.text;
            EXPECT_FALSE(r.text.empty());
        }
        // The connection is still good after the refusals.
        EXPECT_EQ(0, o.exec("SELECT count(*) FROM Molecules").code);
    }
    EXPECT_EQ(before, tableChecksum(server));

    // Were the gate ever passed, the server still refuses: the engine's own session settings
    // make every transaction read-only, even for a superuser.
    DsnFile dsn;
    std::string error;
    ASSERT_EQ(0, readDsnFile(pgDsn, dsn, error)) << error;
    for (auto& kv : dsn.keys)
        if (kv.first == "UID") kv.second = "tvadmin";
    std::vector<const char*> keys, values;
    const auto params = pgConnParams(dsn);
    for (const auto& kv : params) {
        keys.push_back(kv.first.c_str());
        values.push_back(kv.second.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* c = PQconnectdbParams(keys.data(), values.data(), 0);
    ASSERT_EQ(CONNECTION_OK, PQstatus(c)) << PQerrorMessage(c);
    PGresult* r = PQexec(c, "DELETE FROM molecules");
    EXPECT_EQ(PGRES_FATAL_ERROR, PQresultStatus(r));
    EXPECT_STREQ("25006", PQresultErrorField(r, PG_DIAG_SQLSTATE)) << PQresultErrorMessage(r);
    PQclear(r);
    PQfinish(c);
    // So does the role itself, connected without any of the engine's settings.
    c = PQconnectdb(("host=" + server + " dbname=tvtest user=tvreader password=tv-reader-pw").c_str());
    ASSERT_EQ(CONNECTION_OK, PQstatus(c)) << PQerrorMessage(c);
    r = PQexec(c, "BEGIN READ WRITE; DELETE FROM molecules");
    EXPECT_EQ(PGRES_FATAL_ERROR, PQresultStatus(r));
    EXPECT_STREQ("42501", PQresultErrorField(r, PG_DIAG_SQLSTATE)) << PQresultErrorMessage(r);
    PQclear(r);
    PQfinish(c);

    // Through psqlODBC with the engine's connection string, as the superuser, with the
    // driver's own read-only check switched off: the server refuses.
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    const std::string cs = odbcConnectionString(odbcDsn, dsn) + ";UID=tvadmin;ReadOnly=0";
    ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)cs.c_str(), SQL_NTS, nullptr,
                                               0, nullptr, SQL_DRIVER_NOPROMPT)))
        << cs;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    EXPECT_FALSE(SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)"DELETE FROM molecules", SQL_NTS)));
    SQLCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLCHAR msg[512] = {0};
    SQLGetDiagRec(SQL_HANDLE_STMT, st, 1, state, &native, msg, sizeof msg, &len);
    EXPECT_NE(nullptr, std::strstr(reinterpret_cast<char*>(msg), "read-only")) << msg;
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);

    EXPECT_EQ(before, tableChecksum(server));
    EXPECT_EQ("", adminSql(server, "SELECT relname FROM pg_class WHERE relname = 'stolen'"));
}

TEST_F(SharedServer, EachFailureHasItsCodeAndNothingWaitsPastItsTimeout) {
    struct Case {
        const char* what;
        std::string dsn;
        int code;
        const char* text; // part of the answer's text
        double within;    // seconds
    };
    int silentFd = -1;
    const int silent = silentPort(silentFd);
    const std::string refused = std::to_string(closedPort());
    const std::string noServer = tmp.path; // a folder without a server's socket
    std::vector<Case> cases;
    for (const char* client : {"", "Client=odbc\n"}) {
        const std::string c = client;
        cases.push_back({"wrong password", writeDsn(tmp.file("pw" + c.substr(0, 1) + ".dsn"), server, "PWD=wrong\n" + c),
                         DB_LOGIN_REFUSED, "password authentication failed", 5});
        cases.push_back({"no password", writeDsn(tmp.file("nopw" + c.substr(0, 1) + ".dsn"), server, c),
                         DB_LOGIN_REFUSED, "password", 5});
        std::ofstream(tmp.file("db" + c.substr(0, 1) + ".dsn"))
            << "[ODBC]\nDRIVER=PostgreSQL Unicode\nSERVER=" << server
            << "\nDATABASE=nosuchdb\nUID=tvreader\nPWD=tv-reader-pw\n" << c;
        cases.push_back({"unknown database", tmp.file("db" + c.substr(0, 1) + ".dsn"),
                         DB_LOGIN_REFUSED, "nosuchdb", 5});
        cases.push_back({"stopped server", writeDsn(tmp.file("down" + c.substr(0, 1) + ".dsn"), noServer, "PWD=x\n" + c),
                         DB_SERVER_UNREACHABLE, "cannot be reached", 5});
        std::ofstream(tmp.file("tcp" + c.substr(0, 1) + ".dsn"))
            << "[ODBC]\nDRIVER=PostgreSQL Unicode\nSERVER=127.0.0.1\nPORT=" << refused
            << "\nDATABASE=tvtest\nUID=tvreader\nPWD=x\n" << c;
        cases.push_back({"nothing listening", tmp.file("tcp" + c.substr(0, 1) + ".dsn"), DB_SERVER_UNREACHABLE,
                         "refused", 5});
        std::ofstream(tmp.file("silent" + c.substr(0, 1) + ".dsn"))
            << "[ODBC]\nDRIVER=PostgreSQL Unicode\nSERVER=127.0.0.1\nPORT=" << silent
            << "\nDATABASE=tvtest\nUID=tvreader\nPWD=x\nLoginTimeout=2\n" << c;
        cases.push_back({"a server that never answers", tmp.file("silent" + c.substr(0, 1) + ".dsn"),
                         DB_SERVER_UNREACHABLE, "timeout", 3.5});
    }
    std::ofstream(tmp.file("driver.dsn")) << "[ODBC]\nDRIVER=No Such Driver\nSERVER=x\n";
    cases.push_back({"unknown driver", tmp.file("driver.dsn"), DB_UNKNOWN_DRIVER, "No Such Driver", 5});
    std::ofstream(tmp.file("text.dsn")) << "These are notes, not a data source.\n";
    cases.push_back({"not a data source", tmp.file("text.dsn"), DB_NOT_A_DATA_SOURCE, "text.dsn", 1});
    fs::create_symlink("/proc/self/mem", tmp.file("unreadable.dsn"));
    cases.push_back({"unreadable", tmp.file("unreadable.dsn"), DB_DSN_UNREADABLE, "unreadable.dsn", 1});
    cases.push_back({"missing", tmp.file("missing.dsn"), DB_FILE_NOT_FOUND, "missing.dsn", 1});
    std::ofstream(tmp.file("empty.db")) << "";
    std::ofstream(tmp.file("notable.dsn")) << "[ODBC]\nDRIVER=SQLite3\nDATABASE=" << tmp.file("empty.db") << "\n";
    cases.push_back({"no table Molecules", tmp.file("notable.dsn"), DB_NO_MOLECULES, "Molecules", 5});
    std::ofstream(tmp.file("nofile.dsn")) << "[ODBC]\nDRIVER=SQLite3\nDATABASE=" << tmp.file("gone.db") << "\n";
    cases.push_back({"SQLite file missing", tmp.file("nofile.dsn"), DB_OPEN_FAILED, "nofile.dsn", 5});

    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.what) + ": " + k.dsn);
        const auto t0 = std::chrono::steady_clock::now();
        DbEngines db;
        const CommandResult r = db.dbOpen("\"" + k.dsn + "\"");
        const double s = seconds(t0);
        EXPECT_EQ(k.code, r.code) << r.text;
        EXPECT_NE(std::string::npos, r.text.find(k.text)) << r.text;
        EXPECT_LT(s, k.within) << r.text;
        if (std::string(k.what) == "a server that never answers") {
            EXPECT_GT(s, 1.5);
        }
    }
    ::close(silentFd);
    EXPECT_FALSE(fs::exists(tmp.file("gone.db"))) << "the SQLite driver made the missing file";

    // The password may come from ~/.pgpass (PGPASSFILE) instead of the .dsn.
    const std::string pgpass = tmp.file("pgpass");
    std::ofstream(pgpass) << "*:*:tvtest:tvreader:tv-reader-pw\n";
    fs::permissions(pgpass, fs::perms::owner_read | fs::perms::owner_write);
    ::setenv("PGPASSFILE", pgpass.c_str(), 1);
    for (const char* client : {"", "Client=odbc\n"}) {
        DbEngines db;
        const CommandResult r = db.dbOpen("\"" + writeDsn(tmp.file("pgpass.dsn"), server, client) + "\"");
        EXPECT_EQ(0, r.code) << client << r.text;
    }
    ::unsetenv("PGPASSFILE");

    // A statement that runs past QueryTimeout is stopped by the server.
    for (const char* client : {"", "Client=odbc\n"}) {
        SCOPED_TRACE(client);
        Opened o(writeDsn(tmp.file("slow.dsn"), server,
                          std::string("PWD=tv-reader-pw\nQueryTimeout=1\n") + client));
        ASSERT_EQ(0, o.open.code) << o.open.text;
        const auto t0 = std::chrono::steady_clock::now();
        const CommandResult r = o.exec("SELECT pg_sleep(5)");
        EXPECT_EQ(DB_QUERY_TIMEOUT, r.code) << r.text;
        EXPECT_NE(std::string::npos, r.text.find("query timeout of 1 s")) << r.text;
        EXPECT_LT(seconds(t0), 2.5);
        EXPECT_EQ(0, o.exec("SELECT 1").code) << "the connection stays usable";
    }
}

// A cluster of these tests' own, which they stop and restart.
struct PrivateServer : ::testing::Test {
    static PgCluster* server;
    static void SetUpTestSuite() { server = new PgCluster; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
};
PgCluster* PrivateServer::server = nullptr;

// The server goes away between two searches and comes back: the query fails with its code,
// and opening the data source again works.
TEST_F(PrivateServer, AServerGoneBetweenQueriesFailsTheQueryAndOpensAgainWhenBack) {
    PgCluster& cluster = *server;
    ASSERT_TRUE(cluster.ok());
    adminSql(cluster.dir(), "DROP TABLE IF EXISTS molecules");
    makeSmallTable(cluster.dir());
    TempDir tmp;
    for (const char* client : {"", "Client=odbc\n"}) {
        SCOPED_TRACE(client);
        const std::string dsn =
            writeDsn(tmp.file("small.dsn"), cluster.dir(), std::string("PWD=tv-reader-pw\n") + client);
        Opened o(dsn);
        ASSERT_EQ(0, o.open.code) << o.open.text;
        const std::string sql = windowSql(180.06, 180.07, 200);
        const CommandResult first = o.exec(sql);
        ASSERT_EQ(0, first.code) << first.text;
        EXPECT_EQ("2;180.06338810418;C6H12O6;\xCE\xB2-D-Glucose;OC\n"
                  "3;180.06338810418;C6H12O6;D-Fructose, keto form;OC\n",
                  first.text);

        ASSERT_TRUE(cluster.restart());
        const CommandResult lost = o.exec(sql);
        EXPECT_EQ(DB_CONNECTION_LOST, lost.code) << lost.text;
        EXPECT_NE(std::string::npos, lost.text.find("open the data source again")) << lost.text;
        EXPECT_EQ(DB_CONNECTION_LOST, o.exec(sql).code);
        const CommandResult again = o.db.dbOpen("\"" + dsn + "\"");
        ASSERT_EQ(0, again.code) << again.text;
        EXPECT_EQ(first.text, o.db.dbSqlExec(again.text + " \"" + sql + "\"").text);

        // Stopped for good: the query fails, and so does opening, at once.
        ASSERT_TRUE(cluster.halt());
        const CommandResult gone = o.db.dbSqlExec(again.text + " \"" + sql + "\"");
        EXPECT_EQ(DB_CONNECTION_LOST, gone.code) << gone.text;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(DB_SERVER_UNREACHABLE, o.db.dbOpen("\"" + dsn + "\"").code);
        EXPECT_LT(seconds(t0), 2);
        ASSERT_TRUE(cluster.resume());
        EXPECT_EQ(0, o.db.dbOpen("\"" + dsn + "\"").code);
    }
}

// Values of every kind written exactly as the SQLite engine writes them, texts longer than a
// fetched block's width included.
TEST_F(PrivateServer, EveryKindOfValueIsWrittenAsTheSqliteEngineWritesIt) {
    PgCluster& cluster = *server;
    ASSERT_TRUE(cluster.ok());
    adminSql(cluster.dir(), "DROP TABLE IF EXISTS molecules");
    const double reals[] = {0.0, 1e-5, 1e-4, 0.1, 1.0 / 3, 180.06338810418, 100000000000000.5,
                            1e15, 1234567890123456.0, 1e20, 5e-324, 1.7976931348623157e308,
                            HUGE_VAL, -46.041865};
    std::string longText(5000, 'C');
    for (size_t i = 0; i < longText.size(); i += 97)
        longText[i] = i % 2 ? ';' : '\n';
    const std::string texts[] = {"", "plain", "\xCE\xB1-D-Glucose; \"x\"\r\nnext", longText};

    TempDir tmp;
    const std::string file = tmp.file("values.db");
    sqlite3* h = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(file.c_str(), &h));
    sqlite3_exec(h, "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL, Formula TEXT, Name "
                    "TEXT, Smiles TEXT)", nullptr, nullptr, nullptr);
    std::string pgInsert = "CREATE TABLE molecules (id bigint, massmi double precision, formula text, "
                           "name text, smiles text); GRANT SELECT ON molecules TO tvreader; ";
    long long id = -9000000000000000000LL;
    for (double r : reals)
        for (size_t t = 0; t < std::size(texts); ++t) {
            ++id;
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(h, "INSERT INTO Molecules VALUES(?,?,?,?,?)", -1, &st, nullptr);
            sqlite3_bind_int64(st, 1, id);
            sqlite3_bind_double(st, 2, r);
            sqlite3_bind_text(st, 3, "C6H12O6", -1, SQLITE_STATIC);
            if (t == 0)
                sqlite3_bind_null(st, 4);
            else
                sqlite3_bind_text(st, 4, texts[t].c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(st, 5, texts[t].c_str(), -1, SQLITE_STATIC);
            EXPECT_EQ(SQLITE_DONE, sqlite3_step(st));
            sqlite3_finalize(st);
            char real[64];
            std::snprintf(real, sizeof real, "%.17g", r);
            std::string lit = std::isinf(r) ? "'Infinity'" : std::string("'") + real + "'";
            PGconn* c = admin(cluster.dir());
            ASSERT_NE(nullptr, c);
            char* quoted = PQescapeLiteral(c, texts[t].c_str(), texts[t].size());
            pgInsert += "INSERT INTO molecules VALUES (" + std::to_string(id) + ", " + lit +
                        "::float8, 'C6H12O6', " + (t == 0 ? std::string("NULL") : quoted) + ", " +
                        quoted + "); ";
            PQfreemem(quoted);
            PQfinish(c);
        }
    sqlite3_close(h);
    EXPECT_EQ("", adminSql(cluster.dir(), pgInsert));

    const std::string sql = "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules ORDER BY ID";
    Opened want(file);
    ASSERT_EQ(0, want.open.code) << want.open.text;
    const CommandResult expected = want.exec(sql);
    ASSERT_EQ(0, expected.code);
    EXPECT_NE(std::string::npos, expected.text.find("inf;")) << expected.text.substr(0, 500);
    for (const char* client : {"", "Client=odbc\n"}) {
        SCOPED_TRACE(client);
        Opened o(writeDsn(tmp.file("values.dsn"), cluster.dir(),
                          std::string("PWD=tv-reader-pw\n") + client));
        ASSERT_EQ(0, o.open.code) << o.open.text;
        const CommandResult got = o.exec(sql);
        ASSERT_EQ(0, got.code) << got.text;
        EXPECT_EQ(expected.text, got.text);
        // Other column types: integers of every width, exact numbers and texts as the server
        // writes them, bytes as hexadecimal digits.
        EXPECT_EQ("7;-32768;2147483647;12.50;true;0A0BFF;2024-01-02\n",
                  o.exec("SELECT 7::int2, (-32768)::int2, 2147483647::int4, 12.50::numeric, "
                         "'true'::text, decode('0a0bff', 'hex'), '2024-01-02'::date")
                      .text);
        // A single-precision real, a NULL and bytes last in their row.
        EXPECT_EQ("0.1;;3B\n2.5;x;\n",
                  o.exec("SELECT 0.1::float4, NULL, decode('3b', 'hex') UNION ALL "
                         "SELECT 2.5::float4, 'x', NULL")
                      .text);
    }
    // The SQLite ODBC driver: the long texts too (its reals are exact here: 15 digits or
    // fewer are not all of these, so only the texts and integers are compared).
    std::ofstream(tmp.file("values-sqlite.dsn")) << "[ODBC]\nDRIVER=SQLite3\nDATABASE=" << file << "\n";
    Opened lite(tmp.file("values-sqlite.dsn"));
    ASSERT_EQ(0, lite.open.code) << lite.open.text;
    const std::string textSql = "SELECT ID, Formula, Name, Smiles FROM Molecules ORDER BY ID";
    EXPECT_EQ(want.exec(textSql).text, lite.exec(textSql).text);
}

} // namespace
