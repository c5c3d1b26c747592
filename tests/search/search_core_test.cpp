// The search's building blocks without the dialog: mass window, number
// conversions, the cutting of the host's answer and the database listing.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

#include "search_core.h"

namespace {

TEST(MassWindow, ProtonatedIonAtFivePpm) {
    // Oracle: the window worked out by hand.
    const TMassWindow w = MassWindow(301.141, 5, ION_MH_PLUS);
    EXPECT_NEAR(0.001505705, w.Tol, 1e-12);
    EXPECT_NEAR(300.133725, w.Mass, 1e-9);
    EXPECT_NEAR(300.132219295, w.Low, 1e-9);
    EXPECT_NEAR(300.135230705, w.High, 1e-9);
}

TEST(MassWindow, DeprotonatedAndNeutralKeepTheTypedTolerance) {
    const TMassWindow minus = MassWindow(301.141, 5, ION_MH_MINUS);
    EXPECT_NEAR(302.148275, minus.Mass, 1e-9);
    EXPECT_NEAR(0.001505705, minus.Tol, 1e-12);
    const TMassWindow neutral = MassWindow(301.141, 5, ION_NEUTRAL);
    EXPECT_DOUBLE_EQ(301.141, neutral.Mass);
    EXPECT_NEAR(301.141 - 0.001505705, neutral.Low, 1e-9);
    EXPECT_NEAR(301.141 + 0.001505705, neutral.High, 1e-9);
    // Any other index is taken as the neutral mass.
    EXPECT_DOUBLE_EQ(301.141, MassWindow(301.141, 5, -1).Mass);
}

TEST(UserNumbers, TheUsersSeparatorOrThePointNeverBoth) {
    double v = 0;
    ASSERT_TRUE(UserToDouble("301,141", ',', v));
    EXPECT_DOUBLE_EQ(301.141, v);
    ASSERT_TRUE(UserToDouble("301.141", ',', v)); // a typed point stands for the separator
    EXPECT_DOUBLE_EQ(301.141, v);
    ASSERT_TRUE(UserToDouble(" 5 ", '.', v));
    EXPECT_DOUBLE_EQ(5, v);
    EXPECT_FALSE(UserToDouble("1,234.5", ',', v));
    EXPECT_FALSE(UserToDouble("301,141", '.', v));
    for (const char* bad : {"", " ", "abc", "12abc", "inf", "nan", "0x10", "1..2", "1,,2"})
        EXPECT_FALSE(UserToDouble(bad, ',', v)) << bad;
}

TEST(UserNumbers, OneSignAtMost) {
    double d = 0;
    int32_t i = 0;
    for (const char* bad : {"+-5", "-+5", "--5", "++5", "+", "-", "+ 5", "1e+-5"}) {
        EXPECT_FALSE(UserToDouble(bad, '.', d)) << bad;
        EXPECT_FALSE(UserToInt(bad, i)) << bad;
    }
    ASSERT_TRUE(UserToDouble("+5.5", '.', d));
    EXPECT_DOUBLE_EQ(5.5, d);
    ASSERT_TRUE(UserToDouble("-5,5", ',', d));
    EXPECT_DOUBLE_EQ(-5.5, d);
    ASSERT_TRUE(UserToDouble("1e+5", '.', d));
    EXPECT_DOUBLE_EQ(1e5, d);
    ASSERT_TRUE(UserToInt("+7", i));
    EXPECT_EQ(7, i);
    ASSERT_TRUE(UserToInt("-7", i));
    EXPECT_EQ(-7, i);
}

TEST(UserNumbers, IntegersWithin32Bits) {
    int32_t v = 0;
    ASSERT_TRUE(UserToInt("100000", v));
    EXPECT_EQ(100000, v);
    ASSERT_TRUE(UserToInt("2147483647", v));
    EXPECT_EQ(2147483647, v);
    for (const char* bad : {"", "2147483648", "12a", "1.5", "abc"})
        EXPECT_FALSE(UserToInt(bad, v)) << bad;
}

TEST(CompareText, IgnoresTheCaseOfAsciiLettersOnly) {
    EXPECT_EQ(0, CompareText(std::string_view("alpha"), "ALPHA"));
    EXPECT_LT(CompareText(std::string_view("alpha"), "Beta"), 0);
    EXPECT_LT(CompareText(std::string_view("ab"), "abc"), 0);
    // Other characters by code: "_" (0x5F) sorts after the capitals.
    EXPECT_GT(CompareText(std::string_view("_"), "a"), 0);
    EXPECT_EQ(0, CompareText(QString("Glucose"), QString("gLUCOSE")));
    EXPECT_NE(0, CompareText(QString::fromUtf8("\xC3\xA9"), QString::fromUtf8("\xC3\x89")));
}

// The answer parser against rows written field by field.
struct Row {
    int32_t id;
    std::string mass, formula, name, smiles;
};

std::vector<Row> Parse(const std::string& text, size_t max = 1000) {
    std::vector<TAnswerRow> rows;
    ParseSearchAnswer(text, max, rows);
    std::vector<Row> out;
    for (const TAnswerRow& r : rows)
        out.push_back({r.Id, std::string(r.Mass), std::string(r.Formula), std::string(r.Name),
                       std::string(r.Smiles)});
    return out;
}

void ExpectRow(const Row& r, int32_t id, const char* mass, const char* formula, const char* name,
               const char* smiles) {
    EXPECT_EQ(id, r.id);
    EXPECT_EQ(mass, r.mass);
    EXPECT_EQ(formula, r.formula);
    EXPECT_EQ(name, r.name);
    EXPECT_EQ(smiles, r.smiles);
}

TEST(SearchAnswer, RowsOfFiveFieldsWithBlanksAfterTheSeparators) {
    const auto rows = Parse("7; 180.063388; C6H12O6 ;Glucose;OCC1OC(O)C(O)C(O)C1O\n"
                            "12;180.0633881;C6H12O6;\"Fructose\" (keto);OCC(=O)C(O)C(O)C(O)CO\n");
    ASSERT_EQ(2u, rows.size());
    // Leading blanks go, a trailing one stays.
    ExpectRow(rows[0], 7, "180.063388", "C6H12O6 ", "Glucose", "OCC1OC(O)C(O)C(O)C1O");
    ExpectRow(rows[1], 12, "180.0633881", "C6H12O6", "\"Fructose\" (keto)",
              "OCC(=O)C(O)C(O)C(O)CO");
}

TEST(SearchAnswer, ALastRowWithoutLineFeedIsARow) {
    const auto rows = Parse("1;46.04;C2H6O;Ethanol;CCO\n2;60.02;C2H4O2;Acetic acid;CC(O)=O");
    ASSERT_EQ(2u, rows.size());
    ExpectRow(rows[1], 2, "60.02", "C2H4O2", "Acetic acid", "CC(O)=O");
    ASSERT_EQ(1u, Parse("3;18.01;H2O;Water;O").size());
}

TEST(SearchAnswer, ShortRowsDoNotShiftTheNextOnes) {
    const auto rows = Parse("1;46.04;C2H6O\n2;60.02;C2H4O2;Acetic acid;CC(O)=O\n");
    ASSERT_EQ(2u, rows.size());
    ExpectRow(rows[0], 1, "46.04", "C2H6O", "", "");
    ExpectRow(rows[1], 2, "60.02", "C2H4O2", "Acetic acid", "CC(O)=O");
}

TEST(SearchAnswer, SurplusFieldsBelongToTheName) {
    // A host that left the ";" of a name in place.
    const auto rows = Parse("5;58.00;NaCl;sodium; salt; dry;[Na+].[Cl-]\n6;1;C;x;C\n");
    ASSERT_EQ(2u, rows.size());
    ExpectRow(rows[0], 5, "58.00", "NaCl", "sodium; salt; dry", "[Na+].[Cl-]");
    ExpectRow(rows[1], 6, "1", "C", "x", "C");
}

TEST(SearchAnswer, LineEndsClosingSemicolonsBlankAndBadRows) {
    const auto rows = Parse("1;2.5;C;a;C;\r\n\n   \nnot-an-id;3;C;b;C\n99999999999;3;C;c;C\n"
                            " 4 ;5.5;N;d;N\r\n");
    ASSERT_EQ(2u, rows.size());
    ExpectRow(rows[0], 1, "2.5", "C", "a", "C");
    ExpectRow(rows[1], 4, "5.5", "N", "d", "N");
}

TEST(SearchAnswer, RowIdsWithTwoSignsAreBadRows) {
    const auto rows = Parse("+-5;1;C;a;C\n-+5;1;C;b;C\n--5;1;C;c;C\n++5;1;C;d;C\n+;1;C;e;C\n+6;2;N;f;N\n");
    ASSERT_EQ(1u, rows.size());
    ExpectRow(rows[0], 6, "2", "N", "f", "N");
}

TEST(SearchAnswer, StopsAtTheLimit) {
    std::string text;
    for (int i = 1; i <= 50; ++i)
        text += std::to_string(i) + ";1.0;C;n;C\n";
    const auto rows = Parse(text, 20);
    ASSERT_EQ(20u, rows.size());
    EXPECT_EQ(20, rows.back().id);
    EXPECT_TRUE(Parse("", 20).empty());
    EXPECT_TRUE(Parse("\n\n", 20).empty());
}

TEST(DatabaseListing, ExtensionsIgnoringCaseFilesOnlySortedByName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    namespace fs = std::filesystem;
    const fs::path root = dir.path().toStdString();
    for (const char* f :
         {"notes.txt", "README", "a.b.db", "Drugs.MDB", "zeta.dsn", "Beta.Db", ".db"})
        std::ofstream(root / f) << "x";
    fs::create_directory(root / "old.mdb");
    const auto entries = ListDatabaseFiles(root.string());
    ASSERT_EQ(4u, entries.size());
    EXPECT_EQ("a.b", entries[0].Name);
    EXPECT_EQ(2, entries[0].Tag);
    EXPECT_EQ("Beta", entries[1].Name);
    EXPECT_EQ(2, entries[1].Tag);
    EXPECT_EQ("Drugs", entries[2].Name);
    EXPECT_EQ(0, entries[2].Tag);
    EXPECT_EQ("zeta", entries[3].Name);
    EXPECT_EQ(1, entries[3].Tag);
    EXPECT_TRUE(ListDatabaseFiles((root / "missing").string()).empty());
}

TEST(DbHandleName, BlanksAndLineEndsAroundTheHandleGo) {
    EXPECT_EQ("DB1", DbHandleName(" DB1\r\n"));
    EXPECT_EQ("", DbHandleName(" \n"));
}

} // namespace
