// tarvish-mkdb run as a process on files written here; the database it writes is checked
// against masses computed from hard-coded NIST isotope masses.
#include <QProcess>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <map>

#include "db_engines.h"
#include "db_test_util.h"
#include "molecule.h"
#include "text_utils.h"

using namespace dbtest;

namespace {

// NIST isotope masses of the most abundant isotopes.
double nistMass(int c, int h, int n, int o) {
    return c * 12.0 + h * 1.00782503223 + n * 14.00307400443 + o * 15.99491461957;
}

double toDouble(const std::string& t) {
    double v = NAN;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

ToolRun runMkdb(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(TW_MKDB_PATH), args);
    ToolRun r;
    if (!p.waitForFinished(120000)) {
        ADD_FAILURE() << "tarvish-mkdb did not finish: " << p.errorString().toStdString();
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

const char* const kSdf = "Water\n"
                         "  hand-written\n"
                         "\n"
                         "  1  0  0  0  0  0  0  0  0  0999 V2000\n"
                         "    0.0000    0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
                         "M  END\n"
                         "> <NAME>\n"
                         "Water &amp; ice\n"
                         "\n"
                         "$$$$\n"
                         "Formaldehyde\n"
                         "  hand-written\n"
                         "\n"
                         "  2  1  0  0  0  0  0  0  0  0999 V2000\n"
                         "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
                         "    1.2000    0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
                         "  1  2  2  0  0  0  0\n"
                         "M  END\n"
                         "$$$$\n"
                         "Broken\n"
                         "  hand-written\n"
                         "\n"
                         "  this is no counts line\n"
                         "M  END\n"
                         "$$$$\n";

// Nitromethane drawn without the charges of its nitro group, hydrogens explicit, as some
// CML collections do; and ammonia.
const char* const kCml =
    "<?xml version=\"1.0\"?>\n"
    "<cml xmlns=\"http://www.xml-cml.org/schema\">\n"
    "<molecule id=\"m1\">\n"
    "  <name convention=\"IUPAC\">Nitro&#x2010;methane</name>\n"
    "  <atomArray>\n"
    "    <atom id=\"a1\" elementType=\"C\"/><atom id=\"a2\" elementType=\"N\"/>\n"
    "    <atom id=\"a3\" elementType=\"O\"/><atom id=\"a4\" elementType=\"O\"/>\n"
    "    <atom id=\"a5\" elementType=\"H\"/><atom id=\"a6\" elementType=\"H\"/>\n"
    "    <atom id=\"a7\" elementType=\"H\"/>\n"
    "  </atomArray>\n"
    "  <bondArray>\n"
    "    <bond atomRefs2=\"a1 a2\" order=\"1\"/><bond atomRefs2=\"a2 a3\" order=\"2\"/>\n"
    "    <bond atomRefs2=\"a2 a4\" order=\"1\"/><bond atomRefs2=\"a1 a5\" order=\"1\"/>\n"
    "    <bond atomRefs2=\"a1 a6\" order=\"1\"/><bond atomRefs2=\"a1 a7\" order=\"1\"/>\n"
    "  </bondArray>\n"
    "</molecule>\n"
    "<molecule id=\"m2\" title=\"Ammonia\">\n"
    "  <atomArray>\n"
    "    <atom id=\"b1\" elementType=\"N\"/><atom id=\"b2\" elementType=\"H\"/>\n"
    "    <atom id=\"b3\" elementType=\"H\"/><atom id=\"b4\" elementType=\"H\"/>\n"
    "  </atomArray>\n"
    "  <bondArray>\n"
    "    <bond atomRefs2=\"b1 b2\" order=\"1\"/><bond atomRefs2=\"b1 b3\" order=\"1\"/>\n"
    "    <bond atomRefs2=\"b1 b4\" order=\"1\"/>\n"
    "  </bondArray>\n"
    "</molecule>\n"
    "</cml>\n";

TEST(Mkdb, BuildsSortedIndexedDatabaseFromEveryInputKind) {
    TempDir dir;
    writeFile(dir.file("in.smi"), "OCC1OC(O)C(O)C(O)C1O &alpha;-D-Glucose\n"
                                  "\n"
                                  "CCO ethanol; absolute\n"
                                  "C1CC ring that never closes\n"
                                  "CN1C=NC2=C1C(=O)N(C(=O)N2C)C Caffeine\n"
                                  "C([2H])([2H])([2H])O methanol-d3\n");
    writeFile(dir.file("in.csv"), "id,Common name,SMILES\n"
                                  "1,\"Urea, \"\"pure\"\"\",NC(N)=O\n"
                                  "2,\"multi\nline\",C\n"
                                  "3,too short\n"
                                  "4,Tc,[Tc]\n");
    writeFile(dir.file("in.sdf"), kSdf);
    writeFile(dir.file("in.cml"), kCml);
    const std::string out = dir.file("Common compounds.db");

    ToolRun r =
        runMkdb({"--rejects", q(dir.file("rejects.txt")), "--name-field", "NAME", "--smiles-col",
                 "SMILES", "--name-col", "Common name", "-o", q(out), q(dir.file("in.smi")),
                 q(dir.file("in.csv")), q(dir.file("in.sdf")), q(dir.file("in.cml"))});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // 5 SMILES + 4 CSV + 3 SDF + 2 CML records; rejected: the open ring, the labelled
    // methanol, the short CSV line, technetium (no natural isotopes), the broken molfile.
    EXPECT_NE(r.err.find("14 records read, 9 stored, 5 rejected"), std::string::npos) << r.err;
    const std::string rejects = readFile(dir.file("rejects.txt"));
    EXPECT_EQ(std::count(rejects.begin(), rejects.end(), '\n'), 5) << rejects;
    EXPECT_NE(rejects.find("in.smi:4:"), std::string::npos) << rejects;
    EXPECT_NE(rejects.find("isotope"), std::string::npos) << rejects;
    // Line numbers count the line inside the quoted field before it.
    EXPECT_NE(rejects.find("in.csv:5:"), std::string::npos) << rejects;
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos);

    struct Want {
        std::string formula, name, smiles;
        double mass;
    };
    const std::vector<Want> want = {
        {"CH4", "multi line", "C", nistMass(1, 4, 0, 0)},
        {"H3N", "Ammonia", "N", nistMass(0, 3, 1, 0)},
        {"H2O", "Water & ice", "O", nistMass(0, 2, 0, 1)},
        {"CH2O", "Formaldehyde", "C=O", nistMass(1, 2, 0, 1)},
        {"C2H6O", "ethanol; absolute", "CCO", nistMass(2, 6, 0, 1)},
        {"CH4N2O", "Urea, \"pure\"", "NC(N)=O", nistMass(1, 4, 2, 1)},
        {"CH3NO2", "Nitro\u2010methane", "C[N+]([O-])=O", nistMass(1, 3, 1, 2)},
        {"C6H12O6", "\u03b1-D-Glucose", "OCC1OC(O)C(O)C(O)C1O", nistMass(6, 12, 0, 6)},
        {"C8H10N4O2", "Caffeine", "CN1C=NC2=C1C(=O)N(C(=O)N2C)C", nistMass(8, 10, 4, 2)},
    };
    auto rows = query(out, "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules ORDER BY ID");
    ASSERT_EQ(rows.size(), want.size());
    double previous = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(want[i].formula);
        EXPECT_EQ(rows[i][0], std::to_string(i + 1));
        // Stored rounded to 1 µDa: the nearest double to the 6-decimal value.
        const double mass = toDouble(rows[i][1]);
        EXPECT_LE(std::fabs(mass - want[i].mass), 0.5e-6 + 1e-12) << rows[i][1];
        EXPECT_EQ(mass, std::round(want[i].mass * 1e6) / 1e6) << rows[i][1];
        EXPECT_GE(mass, previous); // IDs follow ascending mass
        previous = mass;
        EXPECT_EQ(rows[i][2], want[i].formula);
        EXPECT_EQ(rows[i][3], want[i].name);
        EXPECT_EQ(rows[i][4], want[i].smiles);
    }

    // The mass window is answered from the index, not by a scan of the table.
    auto plan = query(out, "EXPLAIN QUERY PLAN SELECT ID FROM Molecules WHERE (MassMI > 1) AND "
                           "(MassMI < 2) ORDER BY MassMI ASC LIMIT 5");
    ASSERT_FALSE(plan.empty());
    EXPECT_NE(plan[0].back().find("INDEX Molecules_MassMI"), std::string::npos) << plan[0].back();
    auto schema = query(out, "SELECT sql FROM sqlite_master WHERE name = 'Molecules'");
    ASSERT_EQ(schema.size(), 1u);
    EXPECT_EQ(schema[0][0], "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL NOT NULL, "
                            "Formula TEXT NOT NULL, Name TEXT, Smiles TEXT NOT NULL)");

    // The host opens what the tool wrote and finds glucose with the plug-in's query.
    DbEngines db;
    CommandResult open = db.dbOpen("\"" + out + "\"");
    ASSERT_EQ(open.code, 0) << open.text;
    CommandResult hit =
        db.dbSqlExec(open.text + " \"SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules "
                                 "WHERE (MassMI > 180.062488) AND (MassMI < 180.064288) "
                                 "ORDER BY MassMI ASC LIMIT 200;\"");
    ASSERT_EQ(hit.code, 0) << hit.text;
    auto hits = cutAnswer(hit.text, 5);
    ASSERT_EQ(hits.size(), 1u) << hit.text;
    EXPECT_EQ(hits[0][0], "8");
    // The host answers the shortest text of the stored double: the quoted mass.
    EXPECT_EQ(hits[0][1], "180.063388");
    EXPECT_NEAR(toDouble(hits[0][1]), nistMass(6, 12, 0, 6), 0.5e-6);
    EXPECT_EQ(hits[0][3], "\u03b1-D-Glucose");
}

TEST(Mkdb, HeaderlessTsvByColumnNumber) {
    TempDir dir;
    writeFile(dir.file("in.tsv"), "X:1\tGlycine\tNCC(O)=O\tInChI=...\n"
                                  "X:2\t\"quoted\" name\tCC(N)C(O)=O\n"
                                  "X:3\tno smiles\n");
    const std::string out = dir.file("m.db");
    ToolRun r = runMkdb({"--no-header", "--smiles-col", "3", "--name-col", "2", "-q", "-o", q(out),
                         q(dir.file("in.tsv"))});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("3 records read, 2 stored, 1 rejected"), std::string::npos) << r.err;
    auto rows = query(out, "SELECT Name, Formula FROM Molecules ORDER BY ID");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Glycine", "C2H5NO2"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"\"quoted\" name", "C3H7NO2"}));
}

TEST(Mkdb, FailuresLeaveTheTargetUntouched) {
    TempDir dir;
    const std::string out = dir.file("keep.db");
    writeFile(out, "previous contents");
    writeFile(dir.file("bad.smi"), "C1CC\nxyz\n");

    ToolRun r = runMkdb({"-o", q(out), q(dir.file("bad.smi"))});
    EXPECT_EQ(r.exitCode, 3) << r.err; // nothing storable
    r = runMkdb({"-o", q(out), q(dir.file("missing.smi"))});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    r = runMkdb(
        {"-o", q(out), "--smiles-col", "SMILES", q(dir.file("bad.smi")), q(dir.file("x.unknown"))});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    r = runMkdb({"--bogus"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(readFile(out), "previous contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    r = runMkdb({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Usage: tarvish-mkdb"), std::string::npos);
}

// Indigo's CML reader crashed the tool on a molecule element without atoms, and a SMILES or
// molfile record that reads as XML went to that reader too: such records are rejected.
TEST(Mkdb, RecordsThatWouldCrashTheCmlReaderAreRejected) {
    TempDir dir;
    writeFile(dir.file("in.cml"),
              "<cml>\n<molecule/>\n<molecule id=\"m\"></molecule>\n"
              "<molecule><!-- <atomArray/> --><bondArray><bond/></bondArray></molecule>\n"
              "<molecule title=\"x > y\"><name>methane</name><atomArray>"
              "<atom id=\"a1\" elementType=\"C\" hydrogenCount=\"4\"/></atomArray></molecule>\n"
              "<molecule><molecule><atomArray><atom id=\"a1\" elementType=\"C\"/></atomArray>"
              "</molecule></molecule>\n</cml>\n");
    writeFile(dir.file("in.smi"), "<molecule/> a\n<moleculeX/> b\nCCO ethanol\n");
    writeFile(dir.file("in.sdf"), "  <molecule/>\n\n$$$$\n");
    const std::string out = dir.file("m.db");
    ToolRun r = runMkdb({"--rejects", q(dir.file("rejects.txt")), "-o", q(out),
                         q(dir.file("in.cml")), q(dir.file("in.smi")), q(dir.file("in.sdf"))});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("9 records read, 2 stored, 7 rejected"), std::string::npos) << r.err;
    const std::string rejects = readFile(dir.file("rejects.txt"));
    EXPECT_EQ(std::count(rejects.begin(), rejects.end(), '\n'), 7) << rejects;
    EXPECT_NE(rejects.find("without an <atomArray>"), std::string::npos) << rejects;
    EXPECT_NE(rejects.find("reads as XML"), std::string::npos) << rejects;
    auto rows = query(out, "SELECT Formula, Name FROM Molecules ORDER BY ID");
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"CH4", "methane"},
                                                           {"C2H6O", "ethanol"}}));
}

// Found by fuzzing: a CML file cut off inside the last end tag ("</molecule ") made the
// reader start over from the beginning of the file, for ever.
TEST(Mkdb, CmlCutOffInsideAnEndTagIsUnterminated) {
    TempDir dir;
    writeFile(dir.file("cut.cml"), "<cml><molecule><atomArray><atom id=\"a1\" elementType=\"C\"/>"
                                   "</atomArray></molecule ");
    ToolRun r = runMkdb({"--rejects", q(dir.file("rejects.txt")), "-o", q(dir.file("m.db")),
                         q(dir.file("cut.cml"))});
    EXPECT_EQ(r.exitCode, 3) << r.err; // nothing storable
    EXPECT_NE(r.err.find("1 records read"), std::string::npos) << r.err;
    EXPECT_NE(readFile(dir.file("rejects.txt")).find("unterminated"), std::string::npos);
}

TEST(MkdbMass, RoundedTo1MicroDaltonAndPrintedAsQuoted) {
    // The shortest text that reads back to the stored double is the quoted mass.
    auto shortest = [](double v) {
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        return std::string(buf, r.ptr);
    };
    EXPECT_EQ(shortest(mkdb::RoundMass(180.06338810418)), "180.063388");
    EXPECT_EQ(shortest(mkdb::RoundMass(nistMass(8, 10, 4, 2))), "194.080376"); // caffeine
    EXPECT_EQ(shortest(mkdb::RoundMass(18.0105646837)), "18.010565");
    EXPECT_EQ(shortest(mkdb::RoundMass(1234.56789151)), "1234.567892");
    EXPECT_EQ(shortest(mkdb::RoundMass(12.0)), "12");
    // Large molecules keep their 6 decimals too.
    EXPECT_EQ(shortest(mkdb::RoundMass(98765.43210987)), "98765.43211");
    for (double m : {0.5, 42.0105646863, 180.06338810418, 3057.2713}) {
        const double r = mkdb::RoundMass(m);
        EXPECT_LE(std::fabs(r - m), 0.5e-6 + 1e-12) << m;
        EXPECT_EQ(r, std::stod(shortest(r))) << m;
    }
}

TEST(MkdbText, EntitiesAndUtf8) {
    EXPECT_EQ(mkdb::decodeEntities("&alpha;-&Beta; &#945;&#x3B1;&#X3b1; &amp;lt; 5&deg;C"),
              "\u03b1-\u0392 \u03b1\u03b1\u03b1 &lt; 5\u00b0C");
    // Unknown, unterminated and invalid references stay as written.
    EXPECT_EQ(mkdb::decodeEntities("A&B &foo; &#xD800; &#0; &#1114112; &alpha"),
              "A&B &foo; &#xD800; &#0; &#1114112; &alpha");
    EXPECT_EQ(mkdb::sanitizeUtf8("ok \xC3\xA9 bad \xC3 \xE2\x82 \xFF \xC0\xAF end"),
              "ok \u00e9 bad \ufffd \ufffd\ufffd \ufffd \ufffd\ufffd end");
}

} // namespace
