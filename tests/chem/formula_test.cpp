// Formula parsing as chemists write formulas, the refusals with their reasons, and the
// monoisotopic mass.
#include "formula.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace tvchem;

TEST(Formula, ParsesTheUsualNotations) {
    struct Case {
        const char* text;
        const char* hill;
        int charge;
    };
    const Case cases[] = {
        {"C6H12O6", "C6H12O6", 0},
        {"CH3CH2OH", "C2H6O", 0},
        {"Ca(OH)2", "CaH2O2", 0},
        {"[Co(NH3)6]Cl3", "Cl3CoH18N6", 0},
        {"K4[Fe(CN)6]", "C6FeK4N6", 0},
        {"{[(CH3)2]2}C", "C5H12", 0},
        {"CuSO4.5H2O", "CuH10O9S", 0},
        {"CuSO4\xC2\xB7"
         "5H2O",
         "CuH10O9S", 0},
        {"CuSO4*5H2O", "CuH10O9S", 0},
        {"Na2SO4.10H2O.H2O", "H22Na2O15S", 0},
        {"CuSO4.5 H2O", "CuH10O9S", 0},
        {"CuSO4*5NH3", "CuH15N5O4S", 0},
        {"CuSO4\xC2\xB7"
         "5NH3",
         "CuH15N5O4S", 0},
        {"CuSO4. 5NH3", "CuH15N5O4S", 0},
        {"2H2O", "H4O2", 0},
        {"  C6 H12\tO6 ", "C6H12O6", 0},
        {"CuSO4 . 5 H2O", "CuH10O9S", 0},
        {"[Co(N H3)6] Cl3", "Cl3CoH18N6", 0},
        {"NaCl", "ClNa", 0},
        {"H2SO4", "H2O4S", 0},
        {"CCl4", "CCl4", 0},
        {"CHCl3", "CHCl3", 0},
        {"C01", "C", 0},
        {"C100000", "C100000", 0},
        // trailing charges are read and otherwise ignored
        {"C6H5O7-3", "C6H5O7", -3},
        {"C6H5O7 -3", "C6H5O7", -3},
        {"Na+", "Na", 1},
        {"Cl-", "Cl", -1},
        {"Fe +2", "Fe", 2},
        {"Fe^+2", "Fe", 2},
        {"H+", "H", 1},
        {"H-", "H", -1},
        {"OH-", "HO", -1},
        {"[Fe(CN)6]^-4", "C6FeN6", -4},
        {"Ca++", "Ca", 2},
        {"PO4---", "O4P", -3},
        {"SO4 2-", "O4S", -2},
        {"SO4^2-", "O4S", -2},
        {"[Co(NH3)6] 3+", "CoH18N6", 3},
        {"C2H5O+ ", "C2H5O", 1},
    };
    for (const Case& c : cases) {
        FormulaResult r = parseFormula(c.text);
        ASSERT_TRUE(r.ok) << c.text << ": " << r.error;
        EXPECT_EQ(r.formula.hill(), c.hill) << c.text;
        EXPECT_EQ(r.charge, c.charge) << c.text;
        EXPECT_FALSE(r.tooLarge);
    }
}

TEST(Formula, CountsAndAtomTotal) {
    FormulaResult r = parseFormula("[Co(NH3)6]Cl3");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.formula.counts.at("Co"), 1);
    EXPECT_EQ(r.formula.counts.at("N"), 6);
    EXPECT_EQ(r.formula.counts.at("H"), 18);
    EXPECT_EQ(r.formula.counts.at("Cl"), 3);
    EXPECT_EQ(r.formula.atomCount(), 28);
    // "CO" is carbon and oxygen, "Co" cobalt
    r = parseFormula("CO");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.formula.hill(), "CO");
    EXPECT_EQ(parseFormula("Co").formula.hill(), "Co");
}

TEST(Formula, RefusesWithAReason) {
    struct Case {
        const char* text;
        const char* reason; // substring of the error
    };
    const Case cases[] = {
        {"", "empty formula"},
        {"   ", "empty formula"},
        {"Xx", "unknown element symbol 'Xx' at position 1"},
        {"C6H12Xy6", "unknown element symbol 'Xy' at position 6"},
        {"D2O", "unknown element symbol 'D'"},
        {"Tc", "element 'Tc' has no natural isotopic composition"},
        {"Ca(OH2", "unbalanced '(' at position 3"},
        {"CaOH)2", "unbalanced ')' at position 5"},
        {"[Co(NH3]6", "mismatched ']', expected ')'"},
        {"()", "empty brackets"},
        {"C0", "zero count at position 2"},
        {"(OH)0", "zero count"},
        {"0H2O", "zero count"},
        {"cO", "capital letter"},
        {"C6H12O6x", "capital letter"},
        {"+C2H5", "a charge must come last"},
        {"C2-H5", "a charge must come last"},
        {"SO42-", "ambiguous charge '42-'"},
        {"Fe2+", "ambiguous charge"},
        {"2+", "empty formula"},
        {"+", "empty formula"},
        {"CuSO4.", "nothing after '.'"},
        {".H2O", "nothing before '.'"},
        {"CuSO4..H2O", "nothing before '.'"},
        {"5", "multiplier without a formula"},
        {"(H2O.CuSO4)", "'.' inside brackets"},
        {"C6H12O6\x01", "byte 0x01"},
        {"C6H12O6\xC3\xA9", "byte 0xC3"},
        {"C12$", "unexpected '$'"},
        {"C6H12O6 3", "unexpected number at position 9"},
        {"C 6", "unexpected number"},
        {"C l", "capital letter"},
    };
    for (const Case& c : cases) {
        FormulaResult r = parseFormula(c.text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_FALSE(r.tooLarge) << c.text;
        EXPECT_NE(r.error.find(c.reason), std::string::npos)
            << c.text << " gave '" << r.error << "'";
    }
}

TEST(Formula, RefusesDecimalCountsAndSignsWhereACountBelongs) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        // once read as C + 5H, C2 + 5 x H4, and CH2 + 5 x NH3
        {"C1.5H", "decimal count '1.5' at position 2"},
        {"C2.5H4", "decimal count '2.5' at position 2"},
        {"CH2.5NH3", "decimal count '2.5'"},
        {"Fe0.95O", "decimal count '0.95'"},
        {"C6H12.5O6", "decimal count '12.5' at position 4"},
        {"(CH2)1.5", "decimal count '1.5' at position 6"},
        {"(C1.5H)2", "decimal count '1.5'"},
        {"2.5H2O", "decimal multiplier '2.5' at position 1"},
        {"CuSO4.0.5H2O", "decimal count '4.0'"},
        {"CuSO4.5H2O2", "decimal count '4.5'"},
        // once read as charged atoms
        {"C-1", "sign where a count belongs: '-1'"},
        {"Fe+2", "sign where a count belongs: '+2'"},
        {"Ca(OH)-2", "sign where a count belongs: '-2'"},
        {"[Fe(CN)6]-4", "sign where a count belongs"},
    };
    for (const Case& c : cases) {
        FormulaResult r = parseFormula(c.text);
        EXPECT_FALSE(r.ok) << c.text << " read as " << r.formula.hill() << " charge " << r.charge;
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << c.text << " gave '" << r.error << "'";
    }
    EXPECT_NE(parseFormula("Fe+2").error.find("'Fe 2+'"), std::string::npos) << parseFormula("Fe+2").error;
}

TEST(Formula, RefusesMoreThanTheAtomLimit) {
    FormulaResult r = parseFormula("C100001");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.tooLarge);
    EXPECT_EQ(r.error, "refused: 100001 atoms, limit 100000");

    r = parseFormula("C50000H50001");
    EXPECT_TRUE(r.tooLarge);
    EXPECT_EQ(r.error, "refused: 100001 atoms, limit 100000");

    r = parseFormula("(CH2)20000.20000H2O");
    EXPECT_TRUE(r.tooLarge);
    EXPECT_EQ(r.error, "refused: 120000 atoms, limit 100000");
}

TEST(Formula, HugeCountsAndDeepNestingNeitherOverflowNorCrash) {
    FormulaResult r = parseFormula("((((C999999999)999999999)999999999)999999999)9");
    EXPECT_TRUE(r.tooLarge);
    EXPECT_NE(r.error.find("refused: more than"), std::string::npos) << r.error;

    r = parseFormula("C99999999999999999999999999999999");
    EXPECT_TRUE(r.tooLarge);

    std::string deep = std::string(5000, '(') + "C" + std::string(5000, ')');
    r = parseFormula(deep);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("nested too deeply"), std::string::npos) << r.error;

    std::string nested = std::string(60, '(') + "H" + std::string(60, ')');
    EXPECT_TRUE(parseFormula(nested).ok);
}

TEST(Formula, MonoisotopicMass) {
    EXPECT_NEAR(monoisotopicMass(parseFormula("C6H12O6").formula), 180.06338810, 1e-7);
    EXPECT_NEAR(monoisotopicMass(parseFormula("C8H10N4O2").formula), 194.08037557, 1e-7);
    // 2 x 1.00782503223 + 15.99491461957; the often quoted 18.0105646863 comes from
    // slightly older isotope masses.
    EXPECT_NEAR(monoisotopicMass(parseFormula("H2O").formula), 18.01056468403, 1e-10);
    EXPECT_NEAR(monoisotopicMass(parseFormula("H2O").formula), 18.0105646863, 1e-8);
    // Most abundant isotope: 56Fe, 11B, 120Sn
    EXPECT_NEAR(monoisotopicMass(parseFormula("FeB2Sn").formula),
                55.93493633 + 2 * 11.00930536 + 119.90220163, 1e-9);
    Formula bogus;
    bogus.counts["Xx"] = 1;
    EXPECT_TRUE(std::isnan(monoisotopicMass(bogus)));
}
