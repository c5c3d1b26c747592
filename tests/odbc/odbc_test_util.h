#pragma once
// Helpers of the ODBC tests: the shared server of the CTest fixture (TW_PG_DIR), private
// throwaway clusters for tests that stop or restart their server, the demo database, and
// network ends that refuse or never answer.
#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace odbctest {

namespace fs = std::filesystem;

// The folder of the shared server (its socket and Metabolites.dsn); empty with a failure
// when the tests run without their fixture.
inline std::string sharedServer() {
    const char* d = std::getenv("TW_PG_DIR");
    if (!d || !fs::exists(std::string(d) + "/.s.PGSQL.5432")) {
        ADD_FAILURE() << "no PostgreSQL server for the tests (TW_PG_DIR="
                      << (d ? d : "<unset>")
                      << "): run them through ctest, whose fixture odbc_server_start starts it";
        return {};
    }
    return d;
}

inline std::string demoDb() {
    std::string dir;
    if (const char* d = std::getenv("TW_DEMO_DATA_DIR")) {
        dir = d;
    } else {
        const char* xdg = std::getenv("XDG_DATA_HOME");
        const char* home = std::getenv("HOME");
        dir = (xdg && *xdg ? std::string(xdg) : std::string(home ? home : "") + "/.local/share") +
              "/tarvish";
    }
    const std::string db = dir + "/Databases/Metabolites.db";
    if (!fs::exists(db))
        ADD_FAILURE() << db << " is missing: build it with scripts/build-demo-dbs.sh (or set "
                               "TW_DEMO_DATA_DIR)";
    return db;
}

inline std::string clusterScript() {
    return std::string(TW_SOURCE_DIR) + "/scripts/pg-test-cluster.sh";
}

inline bool runScript(const std::string& command, const std::string& dir) {
    const std::string cmd = "'" + clusterScript() + "' " + command + " '" + dir + "' " +
                            (command == "start" ? std::to_string(::getpid()) : "") + " >&2";
    return std::system(cmd.c_str()) == 0;
}

// A throwaway cluster of one test: started in a fresh temporary folder, stopped and removed
// at the end (its watchdog does it should the test binary die).
class PgCluster {
  public:
    PgCluster() {
        std::string tmpl = (fs::temp_directory_path() / "tvpg-XXXXXX").string();
        if (mkdtemp(&tmpl[0])) dir_ = tmpl;
        started_ = !dir_.empty() && runScript("start", dir_);
    }
    ~PgCluster() {
        if (!dir_.empty()) runScript("stop", dir_);
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    bool ok() const { return started_; }
    const std::string& dir() const { return dir_; }
    bool restart() { return runScript("restart", dir_); }
    bool halt() { return runScript("halt", dir_); }
    bool resume() { return runScript("resume", dir_); }

  private:
    std::string dir_;
    bool started_ = false;
};

// A connection as the cluster's superuser; null with a failure.
inline PGconn* admin(const std::string& dir) {
    PGconn* c = PQconnectdb(("host=" + dir + " dbname=tvtest user=tvadmin").c_str());
    if (PQstatus(c) != CONNECTION_OK) {
        ADD_FAILURE() << "cannot connect to " << dir << ": " << PQerrorMessage(c);
        PQfinish(c);
        return nullptr;
    }
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    return c;
}

// Runs SQL as the superuser; the first value of the first row, or "<error: ...>".
inline std::string adminSql(const std::string& dir, const std::string& sql) {
    PGconn* c = admin(dir);
    if (!c) return "<error: no connection>";
    PGresult* r = PQexec(c, sql.c_str());
    std::string out;
    const ExecStatusType st = PQresultStatus(r);
    if (st == PGRES_TUPLES_OK)
        out = PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
    else if (st != PGRES_COMMAND_OK)
        out = std::string("<error: ") + PQresultErrorMessage(r) + ">";
    PQclear(r);
    PQfinish(c);
    return out;
}

// The row count and a checksum of every value of the table molecules.
inline std::string tableChecksum(const std::string& dir) {
    return adminSql(dir, "SELECT count(*) || ':' || md5(string_agg(id || ';' || massmi || ';' || "
                         "formula || ';' || coalesce(name, '') || ';' || smiles, '|' ORDER BY "
                         "id)) FROM molecules");
}

// A small table molecules readable by tvreader, in a private cluster.
inline void makeSmallTable(const std::string& dir) {
    EXPECT_EQ("", adminSql(dir, "CREATE TABLE molecules (id bigint PRIMARY KEY, massmi double "
                                "precision NOT NULL, formula text NOT NULL, name text, smiles "
                                "text NOT NULL); "
                                "INSERT INTO molecules VALUES "
                                "(1, 46.041865, 'C2H6O', 'Ethanol', 'CCO'), "
                                "(2, 180.06338810418, 'C6H12O6', E'\\u03b2-D-Glucose', 'OC'), "
                                "(3, 180.06338810418, 'C6H12O6', 'D-Fructose; keto form', 'OC'); "
                                "CREATE INDEX molecules_massmi ON molecules (massmi); "
                                "GRANT SELECT ON molecules TO tvreader"));
}

// A .dsn for a cluster's tvtest database as tvreader; extra lines appended.
inline std::string writeDsn(const std::string& path, const std::string& server,
                            const std::string& extra = "PWD=tv-reader-pw\n") {
    std::ofstream(path) << "[ODBC]\nDRIVER=PostgreSQL Unicode\nSERVER=" << server
                        << "\nPORT=5432\nDATABASE=tvtest\nUID=tvreader\n"
                        << extra;
    return path;
}

// A TCP port on 127.0.0.1 that completes connections and then never says a word (the
// kernel accepts into the backlog; nobody reads). The socket stays open while fd lives.
inline int silentPort(int& fd) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, 16) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ADD_FAILURE() << "cannot open a listening socket";
        return 0;
    }
    return ntohs(a.sin_port);
}

// A TCP port on 127.0.0.1 where nothing listens (connections are refused).
inline int closedPort() {
    int fd = -1;
    const int port = silentPort(fd);
    ::close(fd);
    return port;
}

} // namespace odbctest
