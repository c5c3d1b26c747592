// Clipboard texts, the DIF number of a Mass cell and the worksheet name.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>

#include "export_results.h"
#include "export_test_util.h"
#include "formatsettings.h"

TEST(ExportText, RowAndTableOfTheWorkedExample) {
    const TResultsTable t = GlucoseTable();
    EXPECT_EQ("180.063388 C6H12O6 Glucose", ResRowText(t.Rows[0]));
    EXPECT_EQ("Mass; Formula; Name\r\n180.063388; C6H12O6; Glucose\r\n", ResTableText(t));
}

TEST(ExportText, KeepsQuotesSeparatorsAndNonAsciiAsTheyAre) {
    const TResultsTable t{{"Masse", "Formel", "Name"},
                          {{"134,021523", "C4H6O5", "\xC3\x84pfels\xC3\xA4ure"},
                           {"180,063388", "C6H12O6", "\"\xCE\xB2\"-D-Glucose; form"}}};
    EXPECT_EQ("180,063388 C6H12O6 \"\xCE\xB2\"-D-Glucose; form", ResRowText(t.Rows[1]));
    EXPECT_EQ("Masse; Formel; Name\r\n134,021523; C4H6O5; \xC3\x84pfels\xC3\xA4ure\r\n"
              "180,063388; C6H12O6; \"\xCE\xB2\"-D-Glucose; form\r\n",
              ResTableText(t));
    // Empty cells keep their separators; a header-only table is one line.
    EXPECT_EQ("1  x", ResRowText({"1", "", "x"}));
    EXPECT_EQ("A; B\r\n", ResTableText({{"A", "B"}, {}}));
}

TEST(ExportText, DifNumberTakesTheShownSeparator) {
    std::string n;
    ASSERT_TRUE(DifNumber("180.063388", '.', n));
    EXPECT_EQ("180.063388", n);
    ASSERT_TRUE(DifNumber("180,063388", ',', n));
    EXPECT_EQ("180.063388", n);
    ASSERT_TRUE(DifNumber("-0,5", ',', n));
    EXPECT_EQ("-0.5", n);
    ASSERT_TRUE(DifNumber("42", ',', n));
    EXPECT_EQ("42", n);
    // Not numbers: a comma under a point separator, text, empty, trailing
    // garbage, a leading plus, infinities.
    for (const char* bad : {"180,063388", "C6H12O6", "", "1.5x", "+1.5", "1.5 ", "inf", "nan"})
        EXPECT_FALSE(DifNumber(bad, '.', n)) << bad;
    // The value read back equals the one shown.
    ASSERT_TRUE(DifNumber("1000,5", ',', n));
    double v = 0;
    std::from_chars(n.data(), n.data() + n.size(), v);
    EXPECT_DOUBLE_EQ(1000.5, v);
}

TEST(ExportText, SheetNameFollowsTheUserSeparatorNotTheProcessLocale) {
    SepGuard sep('.');
    EXPECT_EQ("Mass 300.133725 \xC2\xB1 5.000 ppm", ResSheetName(300.133725, 5.0));
    FormatSettings.DecimalSeparator = ',';
    EXPECT_EQ("Mass 300,133725 \xC2\xB1 5,000 ppm", ResSheetName(300.133725, 5.0));
    EXPECT_EQ("Mass 0,000000 \xC2\xB1 0,000 ppm", ResSheetName(0, 0));
    // A process locale with a comma does not leak into the formatting.
    FormatSettings.DecimalSeparator = '.';
    struct LocaleGuard {
        std::string old = std::setlocale(LC_NUMERIC, nullptr);
        ~LocaleGuard() { std::setlocale(LC_NUMERIC, old.c_str()); }
    } localeGuard;
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) << "scripts/install-deps.sh makes it";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 2.5);
    EXPECT_STREQ("2,5", probe); // the process locale really writes commas
    EXPECT_EQ("Mass 180.063388 \xC2\xB1 2.500 ppm", ResSheetName(180.063388, 2.5));
}
