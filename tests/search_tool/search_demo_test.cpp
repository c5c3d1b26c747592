// tarvish-search on the demo metabolites: glucose as five ions finds the hexoses a neutral
// search finds, every Δppm agrees with one computed here, and the output does not depend on
// the kind of database or on the order its rows are stored in.
#include <set>

#include "db_engines.h"
#include "tool_test_util.h"

using namespace tooltest;

namespace {

// NIST isotope masses and the electron mass, independent of the host's tables.
const double H = 1.00782503223, C = 12.0, N = 14.00307400443, O = 15.99491461957,
             Na = 22.9897692820, Cl = 34.968852682, Me = 0.000548579909;
const double kGlucose = 6 * C + 12 * H + 6 * O;

struct IonCase {
    const char* ion;
    double parts; // Σ parts, u
    int z;
};
const IonCase kGlucoseIons[] = {
    {"[M+Na]+", Na, 1},
    {"[M+NH4]+", N + 4 * H, 1},
    {"[M-H]-", -H, -1},
    {"[M+Cl]-", Cl, -1},
    {"[M+2H]2+", 2 * H, 2},
};

double ionMz(double m, const IonCase& c) {
    return (m + c.parts - c.z * Me) / std::abs(c.z);
}

std::string four(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.4f", v);
    return b;
}

// IDs of the rows whose stored mass lies within ppm of the neutral mass, read here with SQLite.
std::set<std::string> neutralIds(const std::string& db, double mass, double ppm) {
    std::set<std::string> ids;
    const double lo = mass / (1 + ppm * 1e-6), hi = mass / (1 - ppm * 1e-6);
    for (const auto& r : dbtest::query(db, "SELECT ID FROM Molecules WHERE MassMI >= " +
                                               std::to_string(lo - 1e-6) + " AND MassMI <= " +
                                               std::to_string(hi + 1e-6)))
        ids.insert(r[0]);
    return ids;
}

} // namespace

TEST(SearchDemo, GlucoseIonsFindTheHexosesOfANeutralSearch) {
    const std::string db = metabolitesDb();
    ASSERT_FALSE(HasFailure());
    // The neutral search for 180.0634 with the tool and straight from the file.
    ToolRun neutral = runSearch({"-d", db, "-m", "180.0634", "--ions", "M", "--ppm", "5", "-q"});
    ASSERT_EQ(0, neutral.exitCode) << neutral.err;
    Table nt = table(neutral.out);
    std::set<std::string> expected;
    for (size_t r = 0; r < nt.rows.size(); ++r)
        expected.insert(nt.at(r, "hit_id"));
    EXPECT_EQ(neutralIds(db, 180.0634, 5), expected);
    ASSERT_GE(expected.size(), 20u); // glucose, galactose, mannose, fructose, inositol, ...

    // Each ion's m/z as a spectrum gives it, searched as that ion.
    for (const IonCase& c : kGlucoseIons) {
        SCOPED_TRACE(c.ion);
        const std::string mz = four(ionMz(kGlucose, c));
        ToolRun r = runSearch({"-d", db, "-m", mz, "--ions", c.ion, "--ppm", "5", "-q"});
        ASSERT_EQ(0, r.exitCode) << r.err;
        Table t = table(r.out);
        std::set<std::string> ids;
        for (size_t k = 0; k < t.rows.size(); ++k) {
            ids.insert(t.at(k, "hit_id"));
            EXPECT_EQ(c.ion, t.at(k, "ion"));
            EXPECT_EQ(mz, t.at(k, "mz"));
            // Δppm from the stored mass as written, with this test's masses.
            const double theo = ionMz(num(t.at(k, "hit_mass")), c);
            EXPECT_NEAR(theo, num(t.at(k, "theoretical_mz")), 6e-7);
            const double dppm = (num(mz) - theo) / theo * 1e6;
            EXPECT_NEAR(dppm, num(t.at(k, "delta_ppm")), 5.1e-4);
            EXPECT_LE(std::fabs(dppm), 5.0);
            // The neutral mass searched is the measured m/z taken back through the ion.
            EXPECT_NEAR((num(mz) * std::abs(c.z) - c.parts + c.z * Me), num(t.at(k, "neutral_mass")),
                        6e-7);
        }
        EXPECT_EQ(expected, ids);
    }
}

TEST(SearchDemo, SameOutputOnEveryKindOfDatabaseAndRowOrder) {
    const std::string db = metabolitesDb();
    ASSERT_FALSE(HasFailure());
    dbtest::TempDir tmp;
    // A peak list with the isotope peaks of a few metabolites and a mass without hits.
    const std::string peaks = tmp.file("peaks.csv");
    dbtest::writeFile(peaks, "id,mz,intensity,rt\n"
                             "glc,203.0526,100000,2.1\nglc1,204.0560,6800,2.1\nglc2,205.0568,1400,2.1\n"
                             "cit,191.0197,5000,3.0\ncit1,192.0231,330,3.0\n"
                             "trp,205.0972,9000,5.5\ntrp1,206.1005,1100,5.5\n"
                             "none,77.7777,10,1\n");
    // The same rows written in the reverse order of their IDs, with their index.
    const std::string reversed = tmp.file("Reversed.db");
    dbtest::sql(reversed, "ATTACH '" + db + "' AS src; "
                          "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL, Formula TEXT, "
                          "Name TEXT, Smiles TEXT); "
                          "INSERT INTO Molecules SELECT ID, MassMI, Formula, Name, Smiles FROM "
                          "src.Molecules ORDER BY ID DESC; "
                          "CREATE INDEX Molecules_MassMI ON Molecules(MassMI);");
    std::vector<std::string> databases = {db, reversed};

    // Every other kind the host's engines open, as copies beside the demo database.
    std::string kinds = ".db";
    for (const char* ext : {".mdb", ".dsn"}) {
        CommandResult e;
        DbEngines::openFile(tmp.file(std::string("probe") + ext), e);
        if (e.code == DB_NOT_SUPPORTED) continue; // no engine for this kind in this build
        // The Access copy sits in a data directory of its own (build-demo-dbs.sh).
        std::string copy = demoDataDir() + (std::string(ext) == ".mdb" ? "access/" : "") +
                           "Databases/Metabolites" + ext;
        if (std::string(ext) == ".dsn") {
            // The demo file itself as an ODBC data source, through the SQLite ODBC driver.
            copy = tmp.file("Metabolites.dsn");
            dbtest::writeFile(copy, "[ODBC]\nDRIVER=SQLite3\nDATABASE=" + db + "\n");
        }
        EXPECT_TRUE(std::ifstream(copy).good()) << "the " << ext << " copy " << copy << " is missing";
        databases.push_back(copy);
        kinds += std::string(", ") + ext;
    }
    RecordProperty("database_kinds", kinds);
    std::cout << "[ kinds    ] " << kinds << "\n";

    std::string first;
    for (const std::string& d : databases) {
        SCOPED_TRACE(d);
        for (const char* format : {"csv", "jsonl"}) {
            ToolRun r = runSearch({"-d", d, "--positive", "--negative", "--ppm", "5", "--no-hits",
                               "--format", format, "-q", peaks});
            ASSERT_EQ(0, r.exitCode) << r.err;
            ASSERT_GT(r.out.size(), 1000u);
            if (std::string(format) == "csv") {
                if (first.empty())
                    first = r.out;
                else
                    EXPECT_TRUE(first == r.out) << "the output differs from that of " << databases[0];
            }
        }
    }
    // The glucose peak was scored: its cluster came from the list.
    Table t = table(first);
    bool scored = false;
    for (size_t k = 0; k < t.rows.size(); ++k)
        if (t.at(k, "peak_id") == "glc" && t.at(k, "ion") == "[M+Na]+" &&
            t.at(k, "formula") == "C6H12O6") {
            scored = true;
            EXPECT_GT(num(t.at(k, "isotope_cosine")), 0.99);
            EXPECT_LT(num(t.at(k, "isotope_rms")), 2.0);
        }
    EXPECT_TRUE(scored);
}

TEST(SearchDemo, NamedDatabaseInTheDataDirectory) {
    metabolitesDb();
    ASSERT_FALSE(HasFailure());
    // Found by name, ignoring case, with or without the extension.
    for (const char* name : {"Metabolites", "metabolites.DB"}) {
        ToolRun r = runSearch({"--data-dir", demoDataDir(), "-d", name, "-m", "181.0707", "--ions",
                           "[M+H]+", "--top", "3"});
        EXPECT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(4u, readCsv(r.out).size()) << r.out;
        EXPECT_NE(std::string::npos, r.err.find("Metabolites.db")) << r.err;
    }
    ToolRun list = runSearch({"--data-dir", demoDataDir(), "--list-databases"});
    EXPECT_EQ(0, list.exitCode);
    EXPECT_NE(std::string::npos, list.out.find("Metabolites.db\n"));
}
