// Ion texts: what they mean, their masses against hard-coded NIST values, and the faults
// reported with their positions.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "adduct.h"

using namespace tvsearch;

namespace {

// NIST isotope masses (most abundant isotopes) and the CODATA electron mass.
const std::map<std::string, double> kNist = {
    {"H", 1.00782503223},  {"C", 12.0},           {"N", 14.00307400443},
    {"O", 15.99491461957}, {"Na", 22.9897692820}, {"K", 38.9637064864},
    {"Cl", 34.968852682},  {"Br", 78.9183376},    {"Li", 7.0160034366}};
const double kMe = 0.000548579909;

double mass(const std::map<std::string, int>& atoms) {
    double m = 0;
    for (const auto& [s, n] : atoms)
        m += n * kNist.at(s);
    return m;
}

struct Expected {
    const char* text;
    int n, z;
    std::map<std::string, int> atoms; // the parts, signed
};

// Every ion of the two default sets, written out by hand.
const Expected kDefaultIons[] = {
    {"[M+H]+", 1, 1, {{"H", 1}}},
    {"[M+NH4]+", 1, 1, {{"N", 1}, {"H", 4}}},
    {"[M+Na]+", 1, 1, {{"Na", 1}}},
    {"[M+K]+", 1, 1, {{"K", 1}}},
    {"[M+H-H2O]+", 1, 1, {{"H", -1}, {"O", -1}}},
    {"[M+CH3OH+H]+", 1, 1, {{"C", 1}, {"H", 5}, {"O", 1}}},
    {"[M+CH3CN+H]+", 1, 1, {{"C", 2}, {"H", 4}, {"N", 1}}},
    {"[M+2Na-H]+", 1, 1, {{"Na", 2}, {"H", -1}}},
    {"[M+2H]2+", 1, 2, {{"H", 2}}},
    {"[M+H+Na]2+", 1, 2, {{"H", 1}, {"Na", 1}}},
    {"[2M+H]+", 2, 1, {{"H", 1}}},
    {"[2M+Na]+", 2, 1, {{"Na", 1}}},
    {"[M-H]-", 1, -1, {{"H", -1}}},
    {"[M-H-H2O]-", 1, -1, {{"H", -3}, {"O", -1}}},
    {"[M+Cl]-", 1, -1, {{"Cl", 1}}},
    {"[M+Br]-", 1, -1, {{"Br", 1}}},
    {"[M+HCOO]-", 1, -1, {{"C", 1}, {"H", 1}, {"O", 2}}},
    {"[M+CH3COO]-", 1, -1, {{"C", 2}, {"H", 3}, {"O", 2}}},
    {"[M+Na-2H]-", 1, -1, {{"Na", 1}, {"H", -2}}},
    {"[M+K-2H]-", 1, -1, {{"K", 1}, {"H", -2}}},
    {"[M-2H]2-", 1, -2, {{"H", -2}}},
    {"[2M-H]-", 2, -1, {{"H", -1}}},
    {"[2M+HCOO]-", 2, -1, {{"C", 1}, {"H", 1}, {"O", 2}}},
    {"[3M-H]-", 3, -1, {{"H", -1}}},
};

} // namespace

TEST(Adduct, DefaultSetsMatchNistMasses) {
    std::vector<std::string> all = positiveIonSet();
    all.insert(all.end(), negativeIonSet().begin(), negativeIonSet().end());
    ASSERT_EQ(all.size(), std::size(kDefaultIons));
    EXPECT_EQ(12u, positiveIonSet().size());
    EXPECT_EQ(12u, negativeIonSet().size());
    const double glucose = 6 * 12.0 + 12 * 1.00782503223 + 6 * 15.99491461957;
    for (const Expected& e : kDefaultIons) {
        SCOPED_TRACE(e.text);
        EXPECT_NE(std::find(all.begin(), all.end(), e.text), all.end());
        IonParse p = parseIon(e.text);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(e.n, p.ion.multimer);
        EXPECT_EQ(e.z, p.ion.charge);
        const double expected = (e.n * glucose + mass(e.atoms) - e.z * kMe) / std::abs(e.z);
        EXPECT_NEAR(expected, p.ion.mz(glucose), 1e-9);
        EXPECT_NEAR(glucose, p.ion.neutral(p.ion.mz(glucose)), 1e-9);
        for (const auto& [sym, n] : e.atoms)
            EXPECT_EQ(n, p.ion.atoms.count(sym) ? p.ion.atoms.at(sym) : 0) << sym;
    }
}

TEST(Adduct, WrittenFormsOfTheIssue) {
    // [M]+ is the radical cation: one electron less; M is the neutral molecule.
    IonParse radical = parseIon("[M]+");
    ASSERT_TRUE(radical.ok);
    EXPECT_NEAR(100.0 - kMe, radical.ion.mz(100.0), 1e-12);
    IonParse neutral = parseIon("M");
    ASSERT_TRUE(neutral.ok);
    EXPECT_EQ(0, neutral.ion.charge);
    EXPECT_DOUBLE_EQ(100.0, neutral.ion.mz(100.0));
    // Blanks are allowed and dropped from the text; counts multiply the part.
    IonParse spaced = parseIon(" [ M + 2 H ] 2+ ");
    ASSERT_TRUE(spaced.ok) << spaced.error;
    EXPECT_EQ("[M+2H]2+", spaced.ion.text);
    EXPECT_EQ(2, spaced.ion.atoms.at("H"));
    // Repeated signs are a charge too; abbreviations stand for their formulas.
    IonParse plusplus = parseIon("[M+2H]++");
    ASSERT_TRUE(plusplus.ok);
    EXPECT_EQ(2, plusplus.ion.charge);
    IonParse acn = parseIon("[M+ACN+H]+"), written = parseIon("[M+CH3CN+H]+");
    ASSERT_TRUE(acn.ok && written.ok);
    EXPECT_DOUBLE_EQ(written.ion.partsMass, acn.ion.partsMass);
    // Parts that cancel leave no atoms behind.
    IonParse cancel = parseIon("[M+H-H]+");
    ASSERT_TRUE(cancel.ok);
    EXPECT_TRUE(cancel.ion.atoms.empty());
}

TEST(Adduct, FaultsNameReasonAndPosition) {
    struct Bad {
        const char* text;
        size_t position;
        const char* reason; // a piece of the message
    };
    const Bad bad[] = {
        {"", 0, "no ion"},
        {"M+H", 1, "[nM+part...]z+"},
        {"[M+H]", 6, "charge is missing"},
        {"[M+H+]+", 6, "expected a formula after '+'"},
        {"[M+Xx]+", 4, "cannot read the part \"Xx\""},
        {"[0M+H]+", 2, "count of M"},
        {"[M+H]0+", 6, "charge must be 1"},
        {"[M+H]+x", 7, "unexpected 'x'"},
        {"[M+H]2", 7, "sign of the charge is missing"},
        {"[M H]+", 4, "expected '+', '-' or ']', found 'H'"},
        {"[X+H]+", 2, "expected M"},
        {"[M+H", 5, "']' is expected"},
        {"[M+H;]+", 5, "found ';'"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.text);
        IonParse p = parseIon(b.text);
        EXPECT_FALSE(p.ok);
        if (b.position) {
            EXPECT_EQ(b.position, p.position) << p.error;
        }
        EXPECT_NE(std::string::npos, p.error.find(b.reason)) << p.error;
    }
}

TEST(Adduct, Lists) {
    std::vector<Ion> ions;
    std::string error;
    ASSERT_TRUE(parseIonList("[M+H]+,[M+Na]+ [M - H]-;[M+H]+", ions, error)) << error;
    ASSERT_EQ(3u, ions.size()); // the repeated [M+H]+ is searched once
    EXPECT_EQ("[M-H]-", ions[2].text);
    EXPECT_FALSE(parseIonList("[M+H]+,[M+Q]+", ions, error));
    EXPECT_NE(std::string::npos, error.find("[M+Q]+")) << error;
    EXPECT_NE(std::string::npos, error.find("position 4")) << error;
    EXPECT_FALSE(parseIonList(" , ", ions, error));
}
