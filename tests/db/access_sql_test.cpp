// Access SQL on SQLite: the translation of statements, the text order of names and Like.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "access_sql.h"
#include "db_engine.h"
#include "db_test_util.h"

namespace {

std::string translated(const std::string& sql) {
    std::string out;
    EXPECT_EQ(accessdb::translateSql(sql, out), 0) << out;
    return out;
}

int refused(const std::string& sql) {
    std::string out;
    const int rc = accessdb::translateSql(sql, out);
    EXPECT_FALSE(out.empty());
    return rc;
}

TEST(AccessSql, ThePluginsTopForm) {
    EXPECT_EQ(translated("SELECT * FROM (SELECT TOP 200 ID, MassMI, Formula, Name, Smiles FROM "
                         "Molecules WHERE (MassMI > 180.062342) AND (MassMI < 180.064142) ORDER "
                         "BY Name) ORDER BY MassMI;"),
              "SELECT * FROM (SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE "
              "(MassMI > 180.062342) AND (MassMI < 180.064142) ORDER BY Name, rowid LIMIT 200) "
              "ORDER BY MassMI;");
    // The LIMIT form passes unchanged.
    const std::string limit = "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE "
                              "(MassMI > 1.000000) AND (MassMI < 2.000000) ORDER BY MassMI ASC "
                              "LIMIT 200;";
    EXPECT_EQ(translated(limit), limit);
}

TEST(AccessSql, ThePluginsTopFormInPieces) {
    accessdb::TopForm f;
    ASSERT_TRUE(accessdb::matchTopForm(
        "SELECT * FROM (SELECT TOP 200 ID, MassMI, [Formula], Name, Smiles FROM Molecules WHERE "
        "(MassMI > 180.062342) AND (MassMI < 180.064142) ORDER BY Name) ORDER BY MassMI;", f));
    EXPECT_EQ(f.n, 200);
    EXPECT_EQ(f.columns, "ID, MassMI, \"Formula\", Name, Smiles");
    EXPECT_EQ(f.nameKey, "Name");
    EXPECT_EQ(f.where, "( MassMI > 180.062342 ) AND ( MassMI < 180.064142 )");
    ASSERT_TRUE(accessdb::matchTopForm("select * from (select top 1 ID from Molecules where "
                                       "Molecules.[MassMI]>--5 order by [Name]) order by massmi asc", f));
    EXPECT_EQ(f.where, "Molecules.\"MassMI\" > - - 5"); // never an SQLite comment
    // Other shapes are left to the general translation.
    for (const char* other : {
             "SELECT * FROM (SELECT TOP 5 ID FROM Molecules WHERE ID > 1 ORDER BY Name DESC) ORDER BY MassMI",
             "SELECT * FROM (SELECT TOP 5 ID FROM Molecules WHERE Name = 'x' ORDER BY Name) ORDER BY MassMI",
             "SELECT * FROM (SELECT TOP 5 ID FROM Molecules WHERE ID > 1 ORDER BY Name) ORDER BY ID",
             "SELECT * FROM (SELECT TOP 5 ID FROM Other WHERE ID > 1 ORDER BY Name) ORDER BY MassMI",
             "SELECT * FROM (SELECT TOP 5 ID FROM Molecules WHERE ID > 1 ORDER BY Name) ORDER BY MassMI; x",
         })
        EXPECT_FALSE(accessdb::matchTopForm(other, f)) << other;
    // A condition the translation refuses is refused on both paths, with the translation's
    // reason (found by fuzzing: UNION passed as a word of the condition).
    for (const char* refused : {
             "SELECT * FROM (SELECT TOP 5 ID FROM Molecules WHERE UNION(MassMI < 100) ORDER BY "
             "Name) ORDER BY MassMI",
             "SELECT * FROM (SELECT TOP 5 ID FROM Molecules WHERE (MassMI < 100) UNION (ID > 1) "
             "ORDER BY Name) ORDER BY MassMI",
         }) {
        EXPECT_FALSE(accessdb::matchTopForm(refused, f)) << refused;
        std::string out;
        EXPECT_NE(accessdb::translateSql(refused, out), 0) << refused;
    }
}

TEST(AccessSql, TheSubsetUsersWrite) {
    EXPECT_EQ(translated("SELECT TOP 3 [ID], [Name] FROM [Molecules]"),
              "SELECT \"ID\", \"Name\" FROM \"Molecules\" LIMIT 3");
    EXPECT_EQ(translated("select distinctrow top 2 Name from Molecules order by Name desc"),
              "select DISTINCT Name from Molecules order by Name desc, rowid LIMIT 2");
    // Strings in either quote, escapes kept; & joins texts.
    EXPECT_EQ(translated("SELECT Name & \" (\" & Formula & ')' FROM Molecules WHERE Name = \"it's\" "
                         "OR Name = 'say ''hi'''"),
              "SELECT Name || ' (' || Formula || ')' FROM Molecules WHERE Name = 'it''s' OR Name "
              "= 'say ''hi'''");
    EXPECT_EQ(translated("SELECT ID Mod 2, True, False FROM Molecules WHERE Name Like 'D-*'"),
              "SELECT ID % 2, 1, 0 FROM Molecules WHERE Name Like 'D-*'");
    EXPECT_EQ(translated("SELECT * FROM T WHERE d > #1/31/2024 10:30 PM# AND d < #2024-02-01#"),
              "SELECT * FROM T WHERE d > '2024-01-31 22:30:00' AND d < '2024-02-01 00:00:00'");
    // No rowid for a join or a subquery: it would not say which table's.
    EXPECT_EQ(translated("SELECT TOP 1 a.Name FROM Molecules a, Molecules b ORDER BY a.Name"),
              "SELECT a.Name FROM Molecules a, Molecules b ORDER BY a.Name LIMIT 1");
    EXPECT_EQ(translated("SELECT TOP 1 * FROM (SELECT * FROM Molecules) ORDER BY Name"),
              "SELECT * FROM (SELECT * FROM Molecules) ORDER BY Name LIMIT 1");
    EXPECT_EQ(translated("SELECT 5--3"), "SELECT 5- -3"); // never an SQLite comment
}

TEST(AccessSql, RefusesWhatIsNotOneSelect) {
    EXPECT_EQ(refused("DELETE FROM Molecules"), DB_NOT_READ_ONLY);
    EXPECT_EQ(refused("  update Molecules set Name = 'x'"), DB_NOT_READ_ONLY);
    EXPECT_EQ(refused("SELECT 1; DROP TABLE Molecules"), DB_NOT_READ_ONLY);
    EXPECT_EQ(refused("SELECT * INTO Copy FROM Molecules"), DB_NOT_READ_ONLY);
    EXPECT_EQ(refused("PARAMETERS x Long; SELECT 1"), DB_NOT_READ_ONLY);
    EXPECT_EQ(refused("SELECT TOP 10 PERCENT * FROM Molecules"), DB_SQL_ERROR);
    EXPECT_EQ(refused("SELECT TOP x * FROM Molecules"), DB_SQL_ERROR);
    EXPECT_EQ(refused("SELECT [Name FROM Molecules"), DB_SQL_ERROR);
    EXPECT_EQ(refused("SELECT 'open FROM Molecules"), DB_SQL_ERROR);
    EXPECT_EQ(refused("SELECT * FROM T WHERE d = #2/30/2024#"), DB_SQL_ERROR);
    EXPECT_EQ(refused("SELECT (1"), DB_SQL_ERROR);
    EXPECT_EQ(refused(""), DB_NOT_READ_ONLY);
}

int cmp(const char* a, const char* b) {
    const int r = accessdb::compareAccessText(a, std::strlen(a), b, std::strlen(b));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

TEST(AccessText, NamesInAccessOrder) {
    const std::vector<std::string> want = {
        "(+)-Catechin",              // punctuation before digits
        "10-Hydroxy",  "2-Amino",   // digits one by one, as Access compares them
        "apfel",       "\xC3\x84pfel", // ä after a but with the a's
        "Bz",          "Lactate",   "L-Alanine", "L-Lysine", // hyphens do not count
        "Stra\xC3\x9F" "e",                                  // ß as ss
        "Zebra",       "\xCE\xB1-D-Glucose", "\xCE\xB2-Alanine"}; // Greek after Latin
    std::vector<std::string> names = want;
    std::reverse(names.begin(), names.end());
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return cmp(a.c_str(), b.c_str()) < 0;
    });
    EXPECT_EQ(names, want);
    EXPECT_EQ(cmp("D-Glucose", "d-glucose"), 0); // case alone: equal, as in Access
    EXPECT_EQ(cmp("\xC3\x84pfel", "\xC3\xA4PFEL"), 0);
    EXPECT_EQ(cmp("coop", "co-op"), 1);          // a hyphen breaks the tie
    EXPECT_EQ(cmp("resume", "r\xC3\xA9sum\xC3\xA9"), -1);
    EXPECT_EQ(cmp("", "a"), -1);
    EXPECT_EQ(cmp("\xFF\xFE", "\xFF\xFE"), 0); // invalid bytes compare, and equal themselves
}

TEST(AccessText, LikeWithAccessWildcards) {
    using accessdb::accessLike;
    EXPECT_TRUE(accessLike("D-Glucose", "d-gluc?se"));
    EXPECT_TRUE(accessLike("D-Glucose", "*ose"));
    EXPECT_TRUE(accessLike("\xCE\xB2-Alanine", "\xCE\x92*")); // case-insensitive beyond ASCII
    EXPECT_TRUE(accessLike("C6H12O6", "C#H##O#"));
    EXPECT_FALSE(accessLike("C6H12O6", "C#H#O#"));
    EXPECT_TRUE(accessLike("Lactate", "[j-m]*"));
    EXPECT_FALSE(accessLike("Lactate", "[!j-m]*"));
    EXPECT_TRUE(accessLike("50% off", "50[%]*"));
    EXPECT_TRUE(accessLike("a*b", "a[*]b"));
    EXPECT_FALSE(accessLike("axb", "a[*]b"));
    EXPECT_FALSE(accessLike("x", "[x"));     // malformed
    EXPECT_FALSE(accessLike("100%", "100_")); // % and _ are plain characters here
    EXPECT_TRUE(accessLike("", "*"));
    EXPECT_TRUE(accessLike("aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*b"));
    // An empty class closing the pattern matches nothing, before or after stars (found by
    // fuzzing: "abc[]" matched "abc" but "abc[]*" did not).
    EXPECT_TRUE(accessLike("abc", "abc[]"));
    EXPECT_TRUE(accessLike("abc", "abc[]*"));
    EXPECT_TRUE(accessLike("abc", "a*[]*[]"));
    EXPECT_FALSE(accessLike("abc", "ab[]"));
    EXPECT_FALSE(accessLike("abc", "abc[]x*"));
    // Ill-formed UTF-8 is no wildcard: "\xE0\x81\x9B" (an overlong "[") once opened a class,
    // so the text did not match itself.
    const std::string overlong = "4\xE0\x81" "4\xE0\x81\x9B";
    EXPECT_TRUE(accessLike(overlong, overlong));
    EXPECT_FALSE(accessLike("[", "\xE0\x81\x9B"));
    EXPECT_FALSE(accessLike("x", "\xED\xA0\x80")); // a surrogate
}

TEST(AccessText, FunctionsOnAConnection) {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &h), SQLITE_OK);
    ASSERT_TRUE(accessdb::registerAccessSql(h));
    auto one = [&](const char* access) {
        const std::string sql = translated(access);
        sqlite3_stmt* st = nullptr;
        std::string out = "<error>";
        if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            out = t ? t : "<null>";
        }
        sqlite3_finalize(st);
        return out;
    };
    EXPECT_EQ(one("SELECT UCase('\xC3\xA4\xCE\xB2x') || LCase('\xC3\x84X')"),
              "\xC3\x84\xCE\x92X\xC3\xA4x");
    EXPECT_EQ(one("SELECT Len('\xCE\xB2-Ala') || Left('\xCE\xB2-Ala', 2) || Right('abc', 2) || "
                  "Mid('abcdef', 2, 3) || Mid('abc', 3)"),
              "5\xCE\xB2-bcbcdc");
    EXPECT_EQ(one("SELECT Nz(NULL, 'none') || Nz(NULL) || Nz(3)"), "none3");
    EXPECT_EQ(one("SELECT 'Glucose' LIKE 'g*'"), "1");
    EXPECT_EQ(one("SELECT 'x' LIKE '[x'"), "<error>");
    EXPECT_EQ(one("SELECT Mid('abc', 0)"), "<error>");
    EXPECT_EQ(one("SELECT Left ('abc', 1) || x.a FROM (SELECT 'b' AS a) x LEFT JOIN (SELECT 1) y"), "ab");
    sqlite3_exec(h, "CREATE TABLE t(n TEXT COLLATE ACCESS_TEXT);"
                    "INSERT INTO t VALUES('b'),('A'),('a'),('\xC3\xA4'),('-c')",
                 nullptr, nullptr, nullptr);
    EXPECT_EQ(one("SELECT group_concat(n, ' ') FROM (SELECT n FROM t ORDER BY n, rowid)"),
              "A a \xC3\xA4 b -c");
    EXPECT_EQ(one("SELECT count(*) FROM t WHERE n = 'a'"), "2");
    sqlite3_close(h);
}

} // namespace
