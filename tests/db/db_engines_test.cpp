// The host's database engine: opening, querying, the answer's format, read-only use and the
// failure codes.
#include "db_engines.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <vector>

#include "db_test_util.h"

using namespace dbtest;

namespace {

// The plug-in's query of the LIMIT dialect, bounds written with six decimals.
std::string windowQuery(const char* low, const char* high, int limit) {
    return std::string("SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > ") +
           low + ") AND (MassMI < " + high + ") ORDER BY MassMI ASC LIMIT " +
           std::to_string(limit) + ";";
}

class DbEnginesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        fs::create_directories(dir.path() / "Databases");
        dbPath = dir.file("Databases/Test.db");
        sql(dbPath, "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL NOT NULL, "
                    "Formula TEXT NOT NULL, Name TEXT, Smiles TEXT NOT NULL);"
                    "CREATE INDEX Molecules_MassMI ON Molecules(MassMI);"
                    "INSERT INTO Molecules VALUES(1, 46.0418648, 'C2H6O', 'Ethanol', 'CCO');"
                    "INSERT INTO Molecules VALUES(7, 180.0633881, 'C6H12O6', 'sodium; salt', "
                    "  'OCC1OC(O)C(O)C(O)C1O');"
                    "INSERT INTO Molecules VALUES(8, 180.0633881, 'C6H12O6', "
                    "  'line' || char(10) || 'break' || char(13) || char(10) || 'end', 'C;C');"
                    "INSERT INTO Molecules VALUES(9, 180.0633881, 'C6H12O6', NULL, 'O');"
                    "INSERT INTO Molecules VALUES(12, 194.0790381, 'C7H14O6', "
                    "  'α-methyl \"glucoside\"', 'CO');");
    }

    // "DbOpen" with the path the plug-in builds: data dir, "Databases", a backslash, file.
    CommandResult open(const std::string& file = "Test.db") {
        return db.dbOpen("\"" + dir.path().string() + "/Databases\\" + file + "\"");
    }

    TempDir dir;
    std::string dbPath;
    DbEngines db;
};

TEST_F(DbEnginesTest, OpenInfoQueryClose) {
    CommandResult r = open();
    ASSERT_EQ(r.code, 0) << r.text;
    EXPECT_EQ(r.text, "DB1");

    r = db.dbInfo("DB1 Format");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, "SQLITE");
    EXPECT_EQ(db.dbInfo("db1 format").text, "SQLITE"); // handles and items ignore case
    EXPECT_EQ(db.dbInfo("DB1 Colour").code, DB_BAD_SYNTAX);

    r = db.dbSqlExec("DB1 \"" + windowQuery("46.000000", "46.100000", 200) + "\"");
    ASSERT_EQ(r.code, 0) << r.text;
    EXPECT_EQ(r.text, "1;46.0418648;C2H6O;Ethanol;CCO\n");

    // Bounds are exclusive and the limit keeps the lightest rows.
    r = db.dbSqlExec("DB1 \"" + windowQuery("180.063388", "200.000000", 2) + "\"");
    ASSERT_EQ(r.code, 0) << r.text;
    auto rows = cutAnswer(r.text, 5);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "7");
    EXPECT_EQ(rows[1][0], "8");

    r = db.dbSqlExec("DB1 \"" + windowQuery("500.000000", "600.000000", 200) + "\"");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, "");

    EXPECT_EQ(db.dbClose("DB1").code, 0);
    EXPECT_EQ(db.dbSqlExec("DB1 \"SELECT 1\"").code, DB_UNKNOWN_HANDLE);
    EXPECT_EQ(db.dbClose("DB1").code, DB_UNKNOWN_HANDLE);

    // Handle names are never reused, and several databases may be open at once.
    EXPECT_EQ(open().text, "DB2");
    EXPECT_EQ(open().text, "DB3");
    EXPECT_EQ(db.dbSqlExec("DB2 \"SELECT COUNT(*) FROM Molecules\"").text, "5\n");
    db.closeAll();
    EXPECT_EQ(db.dbInfo("DB2 Format").code, DB_UNKNOWN_HANDLE);
}

TEST_F(DbEnginesTest, FieldsNeverShift) {
    ASSERT_EQ(open().code, 0);
    CommandResult r =
        db.dbSqlExec("DB1 \"SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules ORDER BY ID\"");
    ASSERT_EQ(r.code, 0) << r.text;
    EXPECT_EQ(std::count(r.text.begin(), r.text.end(), '\n'), 5);
    auto rows = cutAnswer(r.text, 5);
    ASSERT_EQ(rows.size(), 5u);
    const std::vector<std::vector<std::string>> want = {
        {"1", "46.0418648", "C2H6O", "Ethanol", "CCO"},
        {"7", "180.0633881", "C6H12O6", "sodium, salt", "OCC1OC(O)C(O)C(O)C1O"},
        {"8", "180.0633881", "C6H12O6", "line break  end", "C,C"},
        {"9", "180.0633881", "C6H12O6", "", "O"},
        {"12", "194.0790381", "C7H14O6", "α-methyl \"glucoside\"", "CO"},
    };
    EXPECT_EQ(rows, want);

    // Other column types: integers stay integers, blobs come as hexadecimal digits.
    r = db.dbSqlExec("DB1 \"SELECT 42, -7, x'00FF3B', 2.5, NULL\"");
    EXPECT_EQ(r.text, "42;-7;00FF3B;2.5;\n");
}

// Thousands of rows whose texts grow to kilobytes, so the answer's buffer grows in the middle
// of rows, and whose last field is by turns a blob, a NULL and an integer: every row ends with
// exactly one line break, whatever the last field's kind. The first query starts without a
// size hint, the second with the first one's.
TEST_F(DbEnginesTest, LongAnswersKeepEveryFieldAndRowEnd) {
    ASSERT_EQ(open().code, 0);
    const std::string query =
        "DB1 \"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "SELECT i, i / 8.0, substr(replace(hex(zeroblob(i)), '0', 'a;'), 1, i), "
        "CASE i % 3 WHEN 0 THEN NULL WHEN 1 THEN x'0A3B' ELSE -i END FROM n\"";
    std::string expected;
    for (int i = 1; i <= 3000; ++i) {
        char real[32];
        *std::to_chars(real, real + sizeof real - 1, i / 8.0, std::chars_format::fixed).ptr = 0;
        std::string text;
        for (int k = 0; k < i; ++k)
            text += k % 2 ? ',' : 'a';
        const std::string last = i % 3 == 0 ? "" : i % 3 == 1 ? "0A3B" : std::to_string(-i);
        expected += std::to_string(i) + ";" + real + ";" + text + ";" + last + "\n";
    }
    for (int run = 0; run < 2; ++run) {
        CommandResult r = db.dbSqlExec(query);
        ASSERT_EQ(r.code, 0) << r.text;
        ASSERT_EQ(r.text.size(), expected.size());
        EXPECT_TRUE(r.text == expected) << "first difference at byte "
                                        << std::mismatch(r.text.begin(), r.text.end(),
                                                         expected.begin()).first - r.text.begin();
    }
}

TEST_F(DbEnginesTest, RealsKeepFullPrecisionInAnyLocale) {
    // Machine numbers must not follow the process locale.
    struct LocaleGuard {
        std::string saved;
        LocaleGuard() {
            const char* old = std::setlocale(LC_ALL, nullptr);
            saved = old ? old : "C";
        }
        ~LocaleGuard() { std::setlocale(LC_ALL, saved.c_str()); }
    } guard;
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the locale de_DE.UTF-8 is needed: localedef -i de_DE -f UTF-8 de_DE.UTF-8";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5"); // the locale is really in force

    const std::vector<double> values = {180.06338810,  0.1 + 0.2, 1234567.8901234567,
                                        1.00782503223, 2.0,       -3.25e-3,
                                        1e20,          5e-324,    98765.4321e-9};
    sql(dbPath, "CREATE TABLE Reals(v REAL)");
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.c_str(), &h), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "INSERT INTO Reals VALUES(?)", -1, &st, nullptr);
    for (double v : values) {
        sqlite3_bind_double(st, 1, v);
        EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(h);

    ASSERT_EQ(open().code, 0);
    CommandResult r = db.dbSqlExec("DB1 \"SELECT v FROM Reals ORDER BY rowid\"");
    ASSERT_EQ(r.code, 0) << r.text;
    EXPECT_EQ(r.text.find(','), std::string::npos) << r.text;
    auto rows = cutAnswer(r.text, 1);
    ASSERT_EQ(rows.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string& t = rows[i][0];
        double back = 0;
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), back);
        EXPECT_TRUE(ec == std::errc() && p == t.data() + t.size()) << t;
        EXPECT_EQ(back, values[i]) << t; // exact: the shortest text that round-trips
    }
    EXPECT_EQ(rows[0][0], "180.0633881");
    EXPECT_EQ(rows[2][0], "1234567.8901234567");
    EXPECT_EQ(rows[4][0], "2");
}

TEST_F(DbEnginesTest, ReadOnly) {
    const std::string before = readFile(dbPath);
    const auto mtime = fs::last_write_time(dbPath);
    ASSERT_EQ(open().code, 0);

    const char* writes[] = {
        "UPDATE Molecules SET Name = 'x'",
        "DELETE FROM Molecules",
        "INSERT INTO Molecules VALUES(99, 1.0, 'H', 'h', '[H]')",
        "DROP TABLE Molecules",
        "CREATE TABLE t(x)",
        "PRAGMA query_only=OFF",
        "ATTACH DATABASE 'other.db' AS o",
        "SELECT 1; DELETE FROM Molecules",
        "BEGIN",
        "VACUUM",
    };
    for (const char* w : writes) {
        CommandResult r = db.dbSqlExec(std::string("DB1 \"") + w + "\"");
        EXPECT_NE(r.code, 0) << w;
        EXPECT_FALSE(r.text.empty()) << w;
    }
    EXPECT_EQ(db.dbSqlExec("DB1 \"UPDATE Molecules SET Name = 'x'\"").code, DB_NOT_READ_ONLY);
    EXPECT_EQ(db.dbSqlExec("DB1 \"SELECT 1; SELECT 2\"").code, DB_NOT_READ_ONLY);
    // One statement with a closing semicolon is fine; so is a recursive query.
    EXPECT_EQ(db.dbSqlExec("DB1 \"SELECT COUNT(*) FROM Molecules;  \"").text, "5\n");
    EXPECT_EQ(db.dbSqlExec("DB1 \"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                           "FROM n WHERE i < 3) SELECT i FROM n\"")
                  .text,
              "1\n2\n3\n");
    db.closeAll();
    EXPECT_EQ(readFile(dbPath), before);
    EXPECT_EQ(fs::last_write_time(dbPath), mtime);
    EXPECT_FALSE(fs::exists(dir.file("Databases/other.db")));
    EXPECT_FALSE(fs::exists(dir.path() / "other.db"));
}

TEST_F(DbEnginesTest, FailureCodes) {
    CommandResult r = open("Missing.db");
    EXPECT_EQ(r.code, DB_FILE_NOT_FOUND);
    EXPECT_NE(r.text.find("Missing.db"), std::string::npos) << r.text;

    fs::create_directory(dir.path() / "Databases" / "Folder.db");
    EXPECT_EQ(open("Folder.db").code, DB_FILE_NOT_FOUND);

    writeFile(dir.file("Databases/Garbage.db"), std::string(4096, 'x') + "not a database");
    r = open("Garbage.db");
    EXPECT_EQ(r.code, DB_NOT_A_DATABASE) << r.text;

    sql(dir.file("Databases/NoTable.db"), "CREATE TABLE Other(ID INTEGER)");
    r = open("NoTable.db");
    EXPECT_EQ(r.code, DB_NO_MOLECULES) << r.text;
    EXPECT_NE(r.text.find("Molecules"), std::string::npos) << r.text;

    writeFile(dir.file("Databases/Empty.db"), ""); // an empty file is an empty database
    EXPECT_EQ(open("Empty.db").code, DB_NO_MOLECULES);

    sql(dir.file("Databases/NoSmiles.db"),
        "CREATE TABLE Molecules(ID INTEGER, MassMI REAL, Formula TEXT, Name TEXT)");
    r = open("NoSmiles.db");
    EXPECT_EQ(r.code, DB_NO_MOLECULES);
    EXPECT_NE(r.text.find("Smiles"), std::string::npos) << r.text;

    r = open("Drugs.MDB"); // the Access engine's (any case), but there is no such file
    EXPECT_EQ(r.code, DB_FILE_NOT_FOUND);
    EXPECT_NE(r.text.find("Drugs.MDB"), std::string::npos) << r.text;
    r = open("Server.dsn");
    EXPECT_EQ(r.code, DB_FILE_NOT_FOUND);
    EXPECT_NE(r.text.find("Server.dsn"), std::string::npos) << r.text;
    EXPECT_EQ(open("notes.txt").code, DB_NOT_SUPPORTED);
    EXPECT_EQ(db.dbOpen("\"unbalanced.db").code, DB_BAD_SYNTAX);
    EXPECT_EQ(db.dbOpen("").code, DB_BAD_SYNTAX);

    // None of the failures above used up a handle name.
    ASSERT_EQ(open().text, "DB1");
    r = db.dbSqlExec("DB1 \"SELECT Nope FROM Molecules\"");
    EXPECT_EQ(r.code, DB_SQL_ERROR);
    EXPECT_NE(r.text.find("no such column"), std::string::npos) << r.text;
    EXPECT_EQ(db.dbSqlExec("DB1 \"SELEC 1\"").code, DB_SQL_ERROR);
    EXPECT_EQ(db.dbSqlExec("DB1 \"\"").code, DB_BAD_SYNTAX);
    EXPECT_EQ(db.dbSqlExec("DB1 \"SELECT 1").code, DB_BAD_SYNTAX);
    EXPECT_EQ(db.dbSqlExec("DB9 \"SELECT 1\"").code, DB_UNKNOWN_HANDLE);
    EXPECT_EQ(db.dbInfo("DB9 Format").code, DB_UNKNOWN_HANDLE);
    EXPECT_EQ(db.dbGetRowId("DB9 1 Replace").code, DB_UNKNOWN_HANDLE);
    EXPECT_EQ(db.dbClose("DB9").code, DB_UNKNOWN_HANDLE);
}

TEST_F(DbEnginesTest, GetRowIdLoadsTheMolecule) {
    std::vector<DbEngines::Molecule> loaded;
    db.onLoadMolecule = [&](const DbEngines::Molecule& m) { loaded.push_back(m); };
    ASSERT_EQ(open().code, 0);

    CommandResult r = db.dbGetRowId("DB1 7 Replace");
    ASSERT_EQ(r.code, 0) << r.text;
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].id, 7);
    EXPECT_EQ(loaded[0].mass, 180.0633881);
    EXPECT_EQ(loaded[0].formula, "C6H12O6");
    EXPECT_EQ(loaded[0].name, "sodium; salt"); // the workspace gets the value unchanged
    EXPECT_EQ(loaded[0].smiles, "OCC1OC(O)C(O)C(O)C1O");

    EXPECT_EQ(db.dbGetRowId("DB1 9 Replace").code, 0);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[1].name, "");

    EXPECT_EQ(db.dbGetRowId("DB1 2 Replace").code, DB_UNKNOWN_ROW);
    EXPECT_EQ(db.dbGetRowId("DB1 x7 Replace").code, DB_BAD_SYNTAX);
    EXPECT_EQ(db.dbGetRowId("DB1 7 Append").code, DB_BAD_SYNTAX);
    EXPECT_EQ(loaded.size(), 2u);

    // A callback that throws does not take the host down.
    db.onLoadMolecule = [](const DbEngines::Molecule&) { throw std::runtime_error("boom"); };
    r = db.dbGetRowId("DB1 7 Replace");
    EXPECT_EQ(r.code, DB_INTERNAL);
    EXPECT_NE(r.text.find("boom"), std::string::npos);
}

} // namespace
