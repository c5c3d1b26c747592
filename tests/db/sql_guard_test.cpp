// The read-only gate in front of database servers, and the reading of .dsn files.
#include <unistd.h>

#include <random>

#include <gtest/gtest.h>

#include "db_common.h"
#include "db_engine.h"
#include "db_test_util.h"
#include "dsn_file.h"
#include "odbc_engine.h"
#include "pg_engine.h"
#include "sql_guard.h"

using sqlguard::checkSelect;
using sqlguard::Dialect;

namespace {

const Dialect kBoth[] = {Dialect::PostgreSql, Dialect::Other};

TEST(SqlGuard, ThePluginsQueriesAndOtherReadingStatementsPass) {
    const char* ok[] = {
        "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > 180.062488) AND "
        "(MassMI < 180.064288) ORDER BY MassMI ASC LIMIT 200;",
        "SELECT * FROM (SELECT TOP 200 ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE "
        "(MassMI > 1.000000) AND (MassMI < 2.000000) ORDER BY Name) ORDER BY MassMI;",
        "  -- a note\n select count(*) from Molecules /* no ; here */ ;  -- end\n",
        "WITH w AS (SELECT * FROM Molecules WHERE Name = 'x; DROP TABLE y') SELECT * FROM w",
        "(SELECT 1) UNION (SELECT 2)",
        "SELECT \"Name\" FROM Molecules WHERE Name LIKE '%it''s%'",
        "SELECT 1 AS \"DELETE\"",             // a quoted name is no keyword
        "SELECT 'INSERT INTO x' FROM Molecules", // nor is a text
        "SELECT replace(Name, 'a', 'b') FROM Molecules",
    };
    for (Dialect d : kBoth)
        for (const char* sql : ok) {
            const sqlguard::Verdict v = checkSelect(sql, d);
            EXPECT_TRUE(v.ok) << sql << ": " << v.reason;
            const std::string t = dbcommon::trim(v.statement);
            EXPECT_NE(';', t.empty() ? ';' : t.back()) << "the final ; is cut off: " << t;
        }
    EXPECT_EQ("SELECT 1 ", checkSelect("SELECT 1 ;", Dialect::Other).statement);
    EXPECT_TRUE(checkSelect("SELECT $$a;b$$, $tag$ ; DROP $tag$", Dialect::PostgreSql).ok);
    EXPECT_TRUE(checkSelect("SELECT [a;b] FROM `c;d`", Dialect::Other).ok);
}

TEST(SqlGuard, EveryWritingOrHiddenStatementIsRefused) {
    const char* refused[] = {
        "INSERT INTO Molecules VALUES (1, 2, 'x', 'y', 'z')",
        "UPDATE Molecules SET Name = 'x'",
        "DELETE FROM Molecules",
        "DROP TABLE Molecules",
        "COPY Molecules TO '/tmp/x'",
        "COPY Molecules FROM PROGRAM 'rm -rf /'",
        "SELECT 1; SELECT 2",
        "SELECT * FROM Molecules; DROP TABLE Molecules",
        "SELECT * FROM Molecules;DROP TABLE Molecules;",
        "SELECT * INTO Copy FROM Molecules",
        "SELECT * FROM Molecules FOR UPDATE",
        "SELECT * FROM Molecules FOR SHARE",
        "WITH gone AS (DELETE FROM Molecules RETURNING *) SELECT * FROM gone",
        "SELECT set_config('default_transaction_read_only', 'off', false)",
        "SELECT \"set_config\"('default_transaction_read_only', 'off', false)",
        "SELECT pg_catalog.set_config('a', 'b', false)",
        "SELECT nextval('s')",
        "SELECT lo_import('/etc/passwd')",
        "SELECT pg_terminate_backend(1)",
        "SELECT load_extension('x')",
        "PRAGMA query_only=0",
        "ATTACH DATABASE 'x' AS y",
        "VACUUM",
        "BEGIN; DELETE FROM Molecules; COMMIT",
        "SET default_transaction_read_only = off",
        "EXPLAIN ANALYZE DELETE FROM Molecules",
        "TABLE Molecules",
        "CALL p()",
        "",
        "   ",
        "-- only a comment",
        ";",
        "SELECT 'unclosed",
        "SELECT \"unclosed",
        "SELECT 1 /* unclosed",
        "SELECT 1 /* outer /* inner */ ; DROP TABLE Molecules; */",
        "SELECT 1 /*! ; DROP TABLE Molecules */",
        "SELECT 'a\\' ; DROP TABLE Molecules; --'",  // a backslash read two ways
        "SELECT E'\\x41'",
        "SELECT 1--1\n; DROP TABLE Molecules",       // 1--1 is arithmetic for some servers
        "SELECT 1 -- ok\n; DROP TABLE Molecules",
        "\"SELECT\" 1",
    };
    for (Dialect d : kBoth)
        for (const char* sql : refused) {
            const sqlguard::Verdict v = checkSelect(sql, d);
            EXPECT_FALSE(v.ok) << sql;
            EXPECT_FALSE(v.reason.empty()) << sql;
        }
    // A NUL inside the text itself (the C string above ends at it).
    EXPECT_FALSE(checkSelect(std::string("SELECT 1\0; DROP TABLE x", 24), Dialect::Other).ok);
    // Dollar quotes only mean something to PostgreSQL: elsewhere the ";" inside is code.
    EXPECT_FALSE(checkSelect("SELECT $$ ; DROP TABLE Molecules; $$", Dialect::Other).ok);
    EXPECT_FALSE(checkSelect("SELECT $a$ unclosed", Dialect::PostgreSql).ok);
    // Brackets and back quotes quote names only outside PostgreSQL.
    EXPECT_FALSE(checkSelect("SELECT a[1]; DROP TABLE x; --]", Dialect::PostgreSql).ok);
    EXPECT_EQ("Only one statement is allowed",
              checkSelect("SELECT 1; DROP TABLE x", Dialect::PostgreSql).reason);
}

// Random statements built from the lexer's own pieces: nothing makes it stumble, and what
// passes starts with SELECT or WITH. Built from pieces without quotes or comments, what passes
// holds no refused word and no ";" but a final one.
TEST(SqlGuard, RandomStatementsNeverPassAWriteOrASecondStatement) {
    const char* pieces[] = {"SELECT", " ", "WITH", "x", ";", "'", "\"", "--", "\n", "/*", "*/",
                            "$$", "$t$", "DROP", "(", ")", "\\", "`", "[", "]", "1", "-",
                            "delete", "'a;b'", "\"n\"", "FROM", "\t", "e'", "$1", "/*!"};
    const char* bare[] = {"SELECT ", "WITH ", "x ", ";", "DROP ", "( ", ") ", "1", "delete ",
                          "FROM ", "\n", "INTO ", "a$b ", "+"};
    std::mt19937 rng(11);
    std::uniform_int_distribution<size_t> len(1, 12);
    int passed = 0, passedBare = 0;
    for (int i = 0; i < 200000; ++i) {
        const bool useBare = i % 2;
        std::uniform_int_distribution<size_t> pick(0, (useBare ? std::size(bare) : std::size(pieces)) - 1);
        std::string sql;
        for (size_t n = len(rng); n > 0; --n)
            sql += useBare ? bare[pick(rng)] : pieces[pick(rng)];
        for (Dialect d : kBoth) {
            const sqlguard::Verdict v = checkSelect(sql, d);
            if (!v.ok) continue;
            ++(useBare ? passedBare : passed);
            const std::string up = dbcommon::upper(v.statement);
            size_t first = 0; // past blanks, "(" and leading comments
            for (;;) {
                first = up.find_first_not_of(" \t\n(", first);
                if (up.compare(first, 2, "--") == 0)
                    first = up.find('\n', first);
                else if (up.compare(first, 2, "/*") == 0)
                    first = up.find("*/", first) + 2;
                else
                    break;
            }
            ASSERT_TRUE(up.compare(first, 6, "SELECT") == 0 || up.compare(first, 4, "WITH") == 0)
                << sql;
            if (!useBare) continue;
            ASSERT_EQ(std::string::npos, up.find("DROP")) << sql;
            ASSERT_EQ(std::string::npos, up.find("DELETE")) << sql;
            ASSERT_EQ(std::string::npos, up.find("INTO")) << sql;
            ASSERT_EQ(std::string::npos, up.find(';')) << sql;
        }
    }
    EXPECT_GT(passed, 100);
    EXPECT_GT(passedBare, 100);
}

using dbtest::TempDir;
using dbtest::writeFile;

int readDsn(const std::string& path, DsnFile& dsn, std::string& error) {
    return readDsnFile(path, dsn, error);
}

TEST(DsnFile, KeysOfTheOdbcSectionAndEveryWayToBeNoDataSource) {
    TempDir dir;
    writeFile(dir.file("lab.dsn"), "\xEF\xBB\xBF; written by hand\r\n[other]\r\nDRIVER=no\r\n"
                                   "[ODBC]\r\n DRIVER = PostgreSQL Unicode \r\nServer=db.lab\r\n"
                                   "# a comment\r\nPORT=5433\r\nLoginTimeout=5\r\n");
    DsnFile dsn;
    std::string error;
    ASSERT_EQ(0, readDsn(dir.file("lab.dsn"), dsn, error)) << error;
    EXPECT_EQ("PostgreSQL Unicode", dsn.value("driver"));
    EXPECT_EQ("db.lab", dsn.value("SERVER"));
    EXPECT_EQ(5, dsnTimeout(dsn, "LoginTimeout", 10));
    EXPECT_EQ(30, dsnTimeout(dsn, "QueryTimeout", 30));
    EXPECT_TRUE(usesLibpq(dsn));

    const std::pair<const char*, std::string> bad[] = {
        {"plain text", "hello world\n"},
        {"no section", "DRIVER=SQLite3\n"},
        {"other section", "[data]\nDRIVER=SQLite3\n"},
        {"no driver", "[ODBC]\nSERVER=x\n"},
        {"broken section", "[ODBC\nDRIVER=x\n"},
        {"binary", std::string("[ODBC]\nDRIVER=x\n\0\1\2", 19)},
        {"timeout not a number", "[ODBC]\nDRIVER=x\nQueryTimeout=soon\n"},
        {"timeout too long", "[ODBC]\nDRIVER=x\nLoginTimeout=99999\n"},
        {"too large", "[ODBC]\nDRIVER=x\n" + std::string(70000, ';') + "\n"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.first);
        writeFile(dir.file("bad.dsn"), b.second);
        EXPECT_EQ(DB_NOT_A_DATA_SOURCE, readDsn(dir.file("bad.dsn"), dsn, error));
        EXPECT_NE(std::string::npos, error.find("bad.dsn")) << error;
    }
    EXPECT_EQ(DB_FILE_NOT_FOUND, readDsn(dir.file("missing.dsn"), dsn, error));
    // A file that exists and cannot be read (for root too: reading this one fails).
    ASSERT_EQ(0, symlink("/proc/self/mem", dir.file("unreadable.dsn").c_str()));
    EXPECT_EQ(DB_DSN_UNREADABLE, readDsn(dir.file("unreadable.dsn"), dsn, error)) << error;
}

TEST(DsnFile, ConnectionSettingsKeepEverySessionReadOnly) {
    DsnFile dsn;
    dsn.keys = {{"DRIVER", "PostgreSQL ANSI"}, {"SERVER", "db.lab"}, {"UID", "reader"},
                {"PWD", "p w;d"}, {"QueryTimeout", "12"}, {"pqopt", "{sslrootcert=/x options='-c work_mem=64MB'}"}};
    const auto p = pgConnParams(dsn);
    auto value = [&](const std::string& k) {
        for (const auto& kv : p)
            if (kv.first == k) return kv.second;
        return std::string("<none>");
    };
    EXPECT_EQ("db.lab", value("host"));
    EXPECT_EQ("reader", value("user"));
    EXPECT_EQ("p w;d", value("password"));
    EXPECT_EQ("/x", value("sslrootcert"));
    EXPECT_EQ("10", value("connect_timeout"));
    EXPECT_EQ("-c work_mem=64MB -c default_transaction_read_only=on -c extra_float_digits=3 "
              "-c statement_timeout=12000",
              value("options"));
    EXPECT_EQ("12000", value("tcp_user_timeout"));

    const std::string cs = odbcConnectionString("/data/Databases/a;b.dsn", dsn);
    EXPECT_EQ(0u, cs.find("FILEDSN={/data/Databases/a;b.dsn};ReadOnly=1;")) << cs;
    EXPECT_NE(std::string::npos, cs.find("options='-cdefault_transaction_read_only=on'")) << cs;
    // A path the driver manager cannot quote: the keys are written out instead.
    const std::string keys = odbcConnectionString("/data/odd}name.dsn", dsn);
    EXPECT_EQ(0u, keys.find("DRIVER=PostgreSQL ANSI;SERVER=db.lab;UID=reader;PWD={p w;d};"))
        << keys;
    dsn.keys.emplace_back("Client", "odbc");
    EXPECT_FALSE(usesLibpq(dsn));
    EXPECT_EQ("ACCESS", odbcFormat("MDBTOOLS"));
    EXPECT_EQ("ACCESS", odbcFormat("ACCESS"));
    EXPECT_EQ("POSTGRESQL", odbcFormat("PostgreSQL"));
    EXPECT_EQ("SQLITE", odbcFormat("SQLite"));
}

} // namespace
