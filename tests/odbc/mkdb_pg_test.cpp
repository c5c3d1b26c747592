// tarvish-mkdb --postgres on a private cluster: the table, its index and order, the read-only
// role, the .dsn it writes (opened by the host), and runs that fail leaving the old table.
#include <sys/wait.h>

#include <chrono>
#include <sstream>

#include "db_engines.h"
#include "odbc_test_util.h"

using namespace odbctest;

namespace {

struct ToolResult {
    int exitCode = -1;
    std::string err;
};

// Runs tarvish-mkdb with args (each quoted for the shell).
ToolResult mkdb(const std::vector<std::string>& args, const std::string& errFile) {
    std::string cmd = "'" + std::string(TW_MKDB_PATH) + "'";
    for (const std::string& a : args)
        cmd += " '" + a + "'";
    cmd += " 2>'" + errFile + "'";
    const int status = std::system(cmd.c_str());
    ToolResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    return r;
}

TEST(MkdbPostgres, LoadsReplacesAndLeavesTheOldTableWhenARunFails) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.ok());
    const std::string dir = cluster.dir();
    const std::string work = dir + "/work";
    fs::create_directory(work);
    std::ofstream(work + "/a.smi") << "OCC1OC(O)C(O)C(O)C1O \xCE\xB1-D-Glucose\nCCO Ethanol; absolute\n"
                                      "O Water\nC1CC broken\nCN1C=NC2=C1C(=O)N(C(=O)N2C)C Caffeine\n";
    std::ofstream(work + "/b.smi") << "NCC(O)=O Glycine\nCC(N)C(O)=O Alanine\n";
    const std::string conninfo = "host=" + dir + " dbname=tvtest user=tvadmin";

    ToolResult r = mkdb({"--postgres", conninfo, "--readonly-role", "chemist", "--dsn",
                         work + "/Lab.dsn", work + "/a.smi"},
                        work + "/err.txt");
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("5 records read, 4 stored, 1 rejected")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("made the role chemist")) << r.err;
    EXPECT_EQ("1:Water|2:Ethanol; absolute|3:\xCE\xB1-D-Glucose|4:Caffeine",
              adminSql(dir, "SELECT string_agg(id || ':' || name, '|' ORDER BY massmi) FROM molecules"));
    // The table lies in mass order, with the mass index it is clustered on, and a key on id.
    EXPECT_EQ("t", adminSql(dir, "SELECT bool_and(a.id = b.rn) FROM molecules a JOIN (SELECT id, "
                                 "row_number() OVER (ORDER BY ctid) AS rn FROM molecules) b USING (id)"));
    EXPECT_EQ("molecules_massmi", adminSql(dir, "SELECT c.relname FROM pg_index i JOIN pg_class c ON "
                                                "c.oid = i.indexrelid WHERE i.indisclustered"));
    EXPECT_EQ("molecules_pkey", adminSql(dir, "SELECT conname FROM pg_constraint WHERE contype = 'p' AND "
                                              "conrelid = 'molecules'::regclass"));
    EXPECT_NE("0", adminSql(dir, "SELECT reltuples FROM pg_class WHERE relname = 'molecules'"))
        << "not analysed";
    // The role may read that table and nothing else, and reads read-only by default.
    EXPECT_EQ("SELECT", adminSql(dir, "SELECT string_agg(privilege_type, ',') FROM "
                                      "information_schema.role_table_grants WHERE grantee = 'chemist'"));
    EXPECT_EQ("{default_transaction_read_only=on}",
              adminSql(dir, "SELECT rolconfig FROM pg_roles WHERE rolname = 'chemist'"));
    EXPECT_EQ("f", adminSql(dir, "SELECT rolsuper FROM pg_roles WHERE rolname = 'chemist'"));

    // The .dsn names the server, the database and the role; with a password the host opens it
    // and the plug-in's query finds glucose.
    std::ifstream dsnIn(work + "/Lab.dsn");
    std::stringstream dsn;
    dsn << dsnIn.rdbuf();
    EXPECT_NE(std::string::npos, dsn.str().find("[ODBC]\nDRIVER=PostgreSQL Unicode\nSERVER=" + dir +
                                                "\nPORT=5432\nDATABASE=tvtest\nUID=chemist\n"))
        << dsn.str();
    adminSql(dir, "ALTER ROLE chemist PASSWORD 'chemist-pw'");
    std::ofstream(work + "/Lab.dsn", std::ios::app) << "PWD=chemist-pw\n";
    DbEngines db;
    CommandResult open = db.dbOpen("\"" + work + "/Lab.dsn\"");
    ASSERT_EQ(0, open.code) << open.text;
    CommandResult hit = db.dbSqlExec(open.text + " \"SELECT ID, MassMI, Formula, Name, Smiles FROM "
                                                 "Molecules WHERE (MassMI > 180.06) AND (MassMI < "
                                                 "180.07) ORDER BY MassMI ASC LIMIT 200;\"");
    EXPECT_EQ("3;180.063388;C6H12O6;\xCE\xB1-D-Glucose;OCC1OC(O)C(O)C(O)C1O\n", hit.text);

    // A second run replaces the table as a whole, while an open connection keeps reading.
    r = mkdb({"--postgres", conninfo, "--readonly-role", "chemist", work + "/b.smi"}, work + "/err.txt");
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("1:Glycine|2:Alanine",
              adminSql(dir, "SELECT string_agg(id || ':' || name, '|' ORDER BY id) FROM molecules"));
    EXPECT_EQ(0, db.dbSqlExec(open.text + " \"SELECT count(*) FROM Molecules\"").code);
    EXPECT_EQ("2\n", db.dbSqlExec(open.text + " \"SELECT count(*) FROM Molecules\"").text);

    // Runs that fail leave the table as it was, and no half-loaded one beside it.
    const std::string before = tableChecksum(dir);
    EXPECT_EQ("", adminSql(dir, "CREATE VIEW heavy AS SELECT * FROM molecules WHERE massmi > 100"));
    r = mkdb({"--postgres", conninfo, work + "/a.smi"}, work + "/err.txt");
    EXPECT_EQ(4, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("depend")) << r.err;
    adminSql(dir, "DROP VIEW heavy");
    r = mkdb({"--postgres", conninfo, "--readonly-role", "tvadmin", work + "/a.smi"}, work + "/err.txt");
    EXPECT_EQ(4, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("superuser")) << r.err;
    r = mkdb({"--postgres", conninfo, "--table", "Bad-Name", work + "/a.smi"}, work + "/err.txt");
    EXPECT_EQ(1, r.exitCode) << r.err;
    r = mkdb({"--postgres", conninfo, work + "/missing.smi"}, work + "/err.txt");
    EXPECT_EQ(2, r.exitCode) << r.err;
    // A run killed in the middle of its load.
    {
        std::ofstream big(work + "/big.smi");
        for (int i = 0; i < 200000; ++i)
            big << "CCO ethanol " << i << "\n";
    }
    // It is killed as soon as the server shows its COPY running.
    const std::string cmd =
        "'" + std::string(TW_MKDB_PATH) + "' -q --postgres '" + conninfo + "' '" + work +
        "/big.smi' 2>/dev/null & pid=$!; for i in $(seq 600); do "
        "n=$(psql -XAtq -h '" + dir + "' -U tvadmin -d tvtest -c \"SELECT count(*) FROM "
        "pg_stat_activity WHERE query LIKE 'COPY molecules_load%'\"); "
        "[ \"$n\" = 1 ] && break; sleep 0.05; done; kill -9 $pid; wait $pid; echo \"$n\" >'" +
        work + "/copying.txt'";
    std::system(cmd.c_str());
    std::ifstream copying(work + "/copying.txt");
    std::string seen;
    std::getline(copying, seen);
    EXPECT_EQ("1", seen) << "the load was not caught while copying";
    EXPECT_EQ(before, tableChecksum(dir));
    EXPECT_EQ("", adminSql(dir, "SELECT relname FROM pg_class WHERE relname LIKE 'molecules_load%'"));

    // A server that cannot be reached fails the run before any input is parsed.
    const auto t0 = std::chrono::steady_clock::now();
    r = mkdb({"--postgres", "host=" + dir + "/nowhere dbname=tvtest", work + "/big.smi"}, work + "/err.txt");
    EXPECT_EQ(4, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("cannot connect to PostgreSQL")) << r.err;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2);
}

} // namespace
