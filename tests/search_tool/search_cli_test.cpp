// tarvish-search as a user meets it: bad input of every kind with its message and exit
// status and nothing half written, the four output formats read back, the ranking by
// isotope pattern, and the output file's temporary file.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>

#include "isodist.h"
#include "output_file.h"
#include "tool_test_util.h"

using namespace tooltest;

namespace {

const double kMe = 0.000548579909;

// A small database: 2,4-D (two Cl), a sulfonic acid 7 ppm away, and names that need quoting.
std::string smallDb(const dbtest::TempDir& tmp) {
    const std::string db = tmp.file("Small.db");
    dbtest::sql(db, "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL, Formula TEXT, "
                    "Name TEXT, Smiles TEXT);"
                    "INSERT INTO Molecules VALUES(1, 219.969399, 'C8H6Cl2O3', "
                    "'2,4-D \"dichlorophenoxyacetic acid\"', 'OC(=O)COc1ccc(Cl)cc1Cl');"
                    "INSERT INTO Molecules VALUES(2, 219.967768, 'C6H4O7S', 'Sulfo; acid', 'X');"
                    "INSERT INTO Molecules VALUES(3, 180.063388, 'C6H12O6', 'Glucose', "
                    "'OCC1OC(O)C(O)C(O)C1O');"
                    "INSERT INTO Molecules VALUES(4, 180.063388, 'C6H12Q6', 'Unreadable formula', '');"
                    "INSERT INTO Molecules VALUES(5, 78.04695, 'C6H6', 'Benzene', 'c1ccccc1');"
                    "CREATE INDEX Molecules_MassMI ON Molecules(MassMI);");
    return db;
}

// The cluster of an anion of this composition as measured peaks (m/z to 4 decimals, whole
// intensities), shifted by an error of the m/z.
std::vector<std::pair<double, double>> cluster(const char* anion, double shift = 0) {
    std::vector<std::pair<double, double>> out;
    for (const tvchem::Peak& p : tvchem::isotopicDistribution(anion).peaks)
        if (p.intensity > 0.5)
            out.emplace_back(std::round((p.mass + kMe + shift) * 1e4) / 1e4,
                             std::round(p.intensity * 100));
    return out;
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(SearchCli, ChlorinatedCandidateRanksFirstForAChlorineCluster) {
    dbtest::TempDir tmp;
    const std::string db = smallDb(tmp);
    // The dichlorinated pattern measured 4 ppm light, so that the sulfonic acid is nearer in
    // mass (3 ppm); as separate peaks and as an isotopes column.
    const double shift = -0.0009;
    std::string list = "id,mz,intensity,rt\n", pairs;
    int k = 0;
    for (auto [mz, in] : cluster("C8H5Cl2O3", shift)) {
        list += "p" + std::to_string(k++) + "," + std::to_string(mz) + "," + std::to_string(in) + ",4.2\n";
        pairs += (pairs.empty() ? "" : ";") + std::to_string(mz) + ":" + std::to_string(in);
    }
    const std::string peaks = tmp.file("peaks.csv"), given = tmp.file("given.csv");
    dbtest::writeFile(peaks, list);
    const auto first = cluster("C8H5Cl2O3", shift).front();
    dbtest::writeFile(given, "id,mz,intensity,isotopes\nd," + std::to_string(first.first) + "," +
                                 std::to_string(first.second) + ",\"" + pairs + "\"\nbare,100,5,\n");
    for (const std::string& input : {peaks, given}) {
        SCOPED_TRACE(input);
        ToolRun r = runSearch({"-d", db, "--ions", "[M-H]-", "--ppm", "10", "-q", input});
        ASSERT_EQ(0, r.exitCode) << r.err;
        Table t = table(r.out);
        ASSERT_GE(t.rows.size(), 2u) << r.out;
        EXPECT_EQ(t.at(0, "peak_id"), t.at(1, "peak_id"));
        EXPECT_EQ("1", t.at(0, "hit_id")); // the chlorinated one first
        EXPECT_EQ("2", t.at(1, "hit_id"));
        EXPECT_GT(num(t.at(0, "isotope_cosine")), 0.999);
        EXPECT_LT(num(t.at(1, "isotope_cosine")), 0.9);
        EXPECT_LT(num(t.at(0, "isotope_rms")), num(t.at(1, "isotope_rms")));
        EXPECT_LT(std::fabs(num(t.at(1, "delta_ppm"))), std::fabs(num(t.at(0, "delta_ppm"))));
        // Without the scores the order is by |Δppm|: the sulfonic acid first.
        ToolRun plain = runSearch({"-d", db, "--ions", "[M-H]-", "--ppm", "10", "-q", "--no-isotopes", input});
        Table u = table(plain.out);
        ASSERT_GE(u.rows.size(), 2u);
        EXPECT_EQ("2", u.at(0, "hit_id"));
        EXPECT_TRUE(u.at(0, "isotope_cosine").empty());
    }
}

TEST(SearchCli, FormulasThatDoNotParseOrCannotFormTheIon) {
    dbtest::TempDir tmp;
    const std::string db = smallDb(tmp);
    // Glucose and a row whose formula does not parse, both at 180.0634: the second is kept,
    // without scores; benzene cannot lose water, so [M+H-H2O]+ of it is left out.
    const std::string peaks = tmp.file("p.csv");
    dbtest::writeFile(peaks, "mz,intensity\n181.0707,1000\n182.0741,66\n-1.0\n");
    ToolRun r = runSearch({"-d", db, "--ions", "[M+H]+", peaks});
    EXPECT_EQ(5, r.exitCode) << r.err; // one line skipped
    Table t = table(r.out);
    ASSERT_EQ(2u, t.rows.size()) << r.out;
    EXPECT_EQ("3", t.at(0, "hit_id")); // scored first
    EXPECT_FALSE(t.at(0, "isotope_cosine").empty());
    EXPECT_EQ("4", t.at(1, "hit_id"));
    EXPECT_TRUE(t.at(1, "isotope_cosine").empty());
    EXPECT_NE(std::string::npos, r.err.find("1 hit(s) with a formula that does not parse")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("p.csv:4: the m/z -1.0 is not positive")) << r.err;

    // [M+H-H2O]+ of benzene: M + H - (2 H + O) - e.
    const double benzeneMinusWater = 78.04695 - 1.00782503223 - 15.99491461957 - kMe;
    ToolRun w = runSearch({"-d", db, "--ions", "[M+H-H2O]+", "--da", "0.01", "--no-hits", "-m",
                       std::to_string(benzeneMinusWater)});
    EXPECT_EQ(0, w.exitCode) << w.err;
    Table wt = table(w.out);
    ASSERT_EQ(1u, wt.rows.size()) << w.out; // the no-hit row of the ion
    EXPECT_TRUE(wt.at(0, "hit_id").empty());
    EXPECT_NE(std::string::npos, w.err.find("1 hit(s) left out: the ion cannot form")) << w.err;
}

TEST(SearchCli, BadInputGivesItsMessageAndStatus) {
    dbtest::TempDir tmp;
    const std::string db = smallDb(tmp);
    const std::string out = tmp.file("out.csv");
    struct Case {
        const char* name;
        std::string content;
        std::vector<std::string> extra;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"empty.csv", "", {}, 2, "empty.csv: the file is empty"},
        {"header.csv", "mz,intensity\n", {}, 2, "only a header"},
        {"nan.csv", "mz\n181.07\nNaN\n", {"--strict"}, 2, "line 3: the m/z \"NaN\" is not a number"},
        {"neg.csv", "mz\n-181.07\n", {}, 2, "the m/z -181.07 is not positive"},
        {"absurd.csv", "mz\n5e7\n", {}, 2, "the m/z 5e7 is out of range"},
        {"col.csv", "mz\n181.07\n", {"--mz-col", "precursor"}, 2, "no column named \"precursor\""},
        {"nomz.csv", "peak,height\na,1\n", {}, 2, "no m/z column"},
        {"quote.csv", "mz,id\n181.07,\"open\n", {"--strict"}, 2, "never closed"},
        {"ions.csv", "mz\n181.07\n", {"--ions", "[M+H]+,[M+Hh]+"}, 1, "ion \"[M+Hh]+\", position 4"},
        {"ppm.csv", "mz\n181.07\n", {"--ppm", "-3"}, 1, "--ppm needs a positive number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = tmp.file(c.name);
        dbtest::writeFile(in, c.content);
        dbtest::writeFile(out, "old results\n");
        std::vector<std::string> args = {"-d", db, "-o", out, in};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ToolRun r = runSearch(args);
        EXPECT_EQ(c.status, r.exitCode) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
        EXPECT_EQ("old results\n", dbtest::readFile(out)); // untouched
    }
    // Nothing but the lists and the database were left in the folder.
    for (const std::string& f : filesIn(tmp.path().string()))
        EXPECT_EQ(std::string::npos, f.find(".tvs-")) << f;

    // Masses on the command line, unreadable input, databases that do not open.
    ToolRun m = runSearch({"-d", db, "-m", "181.07,nan"});
    EXPECT_EQ(1, m.exitCode);
    EXPECT_NE(std::string::npos, m.err.find("\"nan\" is not an m/z")) << m.err;
    ToolRun missing = runSearch({"-d", db, tmp.file("nope.csv")});
    EXPECT_EQ(2, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.err.find("cannot open")) << missing.err;
    ToolRun folder = runSearch({"-d", db, tmp.path().string()});
    EXPECT_EQ(2, folder.exitCode);
    EXPECT_NE(std::string::npos, folder.err.find("it is a folder")) << folder.err;
    const std::string notDb = tmp.file("text.db");
    dbtest::writeFile(notDb, "this is no database, just text that is long enough to be read\n");
    ToolRun bad = runSearch({"-d", notDb, "-m", "181.07"});
    EXPECT_EQ(3, bad.exitCode);
    EXPECT_NE(std::string::npos, bad.err.find("Not a database")) << bad.err;
    ToolRun noFile = runSearch({"-d", tmp.file("gone.db"), "-m", "181.07"});
    EXPECT_EQ(3, noFile.exitCode);
    EXPECT_NE(std::string::npos, noFile.err.find("not found")) << noFile.err;
    ToolRun noName = runSearch({"--data-dir", tmp.path().string(), "-d", "Metabolites", "-m", "181.07"});
    EXPECT_EQ(3, noName.exitCode);
    EXPECT_NE(std::string::npos, noName.err.find("no database \"Metabolites\"")) << noName.err;
    // One name for two files of the data directory is ambiguous.
    std::filesystem::create_directories(tmp.path() / "Databases");
    std::filesystem::copy_file(db, tmp.path() / "Databases" / "Drugs.db");
    dbtest::writeFile(tmp.file("Databases/Drugs.dsn"), "[ODBC]\n");
    ToolRun two = runSearch({"--data-dir", tmp.path().string(), "-d", "drugs", "-m", "181.07"});
    EXPECT_EQ(3, two.exitCode);
    EXPECT_NE(std::string::npos, two.err.find("names several databases")) << two.err;
    ToolRun byFile = runSearch({"--data-dir", tmp.path().string(), "-d", "Drugs.db", "-m", "181.0707"});
    EXPECT_EQ(0, byFile.exitCode) << byFile.err;
}

TEST(SearchCli, MalformedLinesAreSkippedWithTheirNumbers) {
    dbtest::TempDir tmp;
    const std::string db = smallDb(tmp);
    const std::string in = tmp.file("peaks.tsv"), out = tmp.file("out.tsv");
    dbtest::writeFile(in, "mz\tintensity\n181.0707\t10\nabc\t1\n181.0707\t-4\n\n181.0707\n");
    ToolRun r = runSearch({"-d", db, "--ions", "[M+H]+", "-o", out, in});
    EXPECT_EQ(5, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("peaks.tsv:3: the m/z \"abc\" is not a number (line skipped)")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("peaks.tsv:4: the intensity -4 is negative")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("2 line(s) of")) << r.err;
    const std::string tsv = dbtest::readFile(out);
    EXPECT_EQ(0u, tsv.rfind("peak_id\tmz\t", 0)) << tsv;
    EXPECT_EQ(5, std::count(tsv.begin(), tsv.end(), '\n')); // header, 2 peaks x 2 hexose rows
}

TEST(SearchCli, WriteFailuresAreReported) {
    dbtest::TempDir tmp;
    const std::string db = smallDb(tmp);
    ToolRun full = runSearch({"-d", db, "-m", "181.0707", "-o", "/dev/full"});
    EXPECT_EQ(4, full.exitCode);
    EXPECT_NE(std::string::npos, full.err.find("No space left on device")) << full.err;
    ToolRun fullStdout = runSearch({"-d", db, "-m", "181.0707"}, "/dev/full");
    EXPECT_EQ(4, fullStdout.exitCode);
    EXPECT_NE(std::string::npos, fullStdout.err.find("No space left")) << fullStdout.err;
    ToolRun xlsxFull = runSearch({"-d", db, "-m", "181.0707", "-o", "/dev/full", "--format", "xlsx"});
    EXPECT_EQ(4, xlsxFull.exitCode) << xlsxFull.err;
    ToolRun noDir = runSearch({"-d", db, "-m", "181.0707", "-o", tmp.file("no/such/dir/out.csv")});
    EXPECT_EQ(4, noDir.exitCode);
    EXPECT_NE(std::string::npos, noDir.err.find("cannot write in")) << noDir.err;
    ToolRun isDir = runSearch({"-d", db, "-m", "181.0707", "-o", tmp.path().string()});
    EXPECT_EQ(4, isDir.exitCode);
    EXPECT_NE(std::string::npos, isDir.err.find("it is a folder")) << isDir.err;
}

TEST(SearchCli, InterruptedWriteLeavesNothing) {
    dbtest::TempDir tmp;
    const std::string target = tmp.file("results.csv");
    dbtest::writeFile(target, "before\n");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        tvsearch::OutputFile out;
        std::string error;
        if (!out.open(target, false, error)) _exit(3);
        std::fputs("half a result,", out.stream());
        std::fflush(out.stream());
        ::raise(SIGTERM); // the handler removes the temporary file and ends the process
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(std::vector<std::string>{"results.csv"}, filesIn(tmp.path().string()));
    EXPECT_EQ("before\n", dbtest::readFile(target));
}

TEST(SearchCli, FormatsReadBack) {
    dbtest::TempDir tmp;
    const std::string db = smallDb(tmp);
    const std::vector<std::string> base = {"-d", db, "--ions", "[M-H]-,[M+Cl]-", "--ppm", "10",
                                           "-m", "218.9621", "--no-hits", "-q"};
    // CSV: RFC 4180 quoting of a name with a comma and quotes; ";" became "," in the answer.
    ToolRun csv = runSearch(base);
    ASSERT_EQ(0, csv.exitCode) << csv.err;
    Table t = table(csv.out);
    ASSERT_EQ(3u, t.rows.size()) << csv.out; // two hits of [M-H]-, no hit of [M+Cl]-
    EXPECT_EQ("2,4-D \"dichlorophenoxyacetic acid\"", t.at(0, "name"));
    EXPECT_NE(std::string::npos, csv.out.find("\"2,4-D \"\"dichlorophenoxyacetic acid\"\"\""));
    EXPECT_EQ("Sulfo, acid", t.at(1, "name"));
    EXPECT_EQ("[M+Cl]-", t.at(2, "ion"));
    EXPECT_TRUE(t.at(2, "hit_id").empty());
    EXPECT_EQ(csv.out.find("\r\n"), csv.out.find('\n') - 1); // CRLF records

    // JSON Lines: every line one valid object, empty values null (checked by Python's json).
    const std::string jl = tmp.file("r.jsonl");
    std::vector<std::string> a = base;
    a.insert(a.end(), {"-o", jl});
    ASSERT_EQ(0, runSearch(a).exitCode);
    QProcess py;
    py.start("/usr/bin/python3",
             {"-c", "import json,sys\n"
                    "rows=[json.loads(l) for l in open(sys.argv[1])]\n"
                    "assert len(rows)==3, rows\n"
                    "assert rows[0]['hit_id']==1 and rows[0]['name'].startswith('2,4-D \"')\n"
                    "assert rows[2]['hit_id'] is None and rows[2]['formula'] is None\n"
                    "assert isinstance(rows[0]['delta_ppm'], float)\n"
                    "print('ok')",
              QString::fromStdString(jl)});
    ASSERT_TRUE(py.waitForFinished(60000));
    EXPECT_EQ("ok\n", py.readAllStandardOutput().toStdString()) << py.readAllStandardError().toStdString();

    // The workbook: bold header, numbers as numbers, text as text.
    const std::string xl = tmp.file("r.xlsx");
    a = base;
    a.insert(a.end(), {"-o", xl});
    ToolRun x = runSearch(a);
    ASSERT_EQ(0, x.exitCode) << x.err;
    py.start("/usr/bin/python3",
             {"-c", "import openpyxl,sys\n"
                    "ws=openpyxl.load_workbook(sys.argv[1]).active\n"
                    "h=[c.value for c in ws[1]]\n"
                    "assert h[0]=='peak_id' and h[-1]=='smiles', h\n"
                    "assert all(c.font.b for c in ws[1])\n"
                    "r=[c.value for c in ws[2]]\n"
                    "assert isinstance(r[1], float) and abs(r[1]-218.9621)<1e-9, r\n"
                    "assert r[6]==1 and isinstance(r[9], float) and r[12]=='C8H6Cl2O3', r\n"
                    "assert ws.max_row==4\n"
                    "print('ok')",
              QString::fromStdString(xl)});
    ASSERT_TRUE(py.waitForFinished(60000));
    EXPECT_EQ("ok\n", py.readAllStandardOutput().toStdString()) << py.readAllStandardError().toStdString();
    // A workbook through a pipe is the same workbook.
    std::vector<std::string> pipe = base;
    pipe.insert(pipe.end(), {"--format", "xlsx"});
    ToolRun piped = runSearch(pipe);
    EXPECT_EQ(0, piped.exitCode);
    EXPECT_EQ(0u, piped.out.rfind("PK", 0)); // a zip file
}

TEST(SearchCli, MgfChargesTopAndProgress) {
    dbtest::TempDir tmp;
    const std::string db = smallDb(tmp);
    // The doubly protonated glucose, as an MGF spectrum of charge 2+: only 2+ ions apply.
    const double mz2 = (180.063388 + 2 * 1.00782503223 - 2 * kMe) / 2;
    const std::string mgf = tmp.file("run.mgf");
    dbtest::writeFile(mgf, "BEGIN IONS\nTITLE=glc2\nPEPMASS=" + std::to_string(mz2) +
                               " 5000\nCHARGE=2+\n50.1 3\nEND IONS\n");
    ToolRun r = runSearch({"-d", db, "--positive", "--no-hits", mgf});
    ASSERT_EQ(0, r.exitCode) << r.err;
    Table t = table(r.out);
    ASSERT_FALSE(t.rows.empty());
    for (size_t k = 0; k < t.rows.size(); ++k) {
        EXPECT_EQ("glc2", t.at(k, "peak_id"));
        EXPECT_NE(std::string::npos, t.at(k, "ion").find("]2+")) << t.at(k, "ion");
    }
    ToolRun top = runSearch({"-d", db, "--positive", "--top", "1", mgf});
    EXPECT_EQ(2u, readCsv(top.out).size());
    // Piped standard error: no bar. Asked for: a bar.
    EXPECT_EQ(std::string::npos, r.err.find('\r'));
    ToolRun bar = runSearch({"-d", db, "--positive", "--progress", mgf});
    EXPECT_NE(std::string::npos, bar.err.find("\r[")) << bar.err;
    EXPECT_NE(std::string::npos, bar.err.find("1 peak, 12 ions (the positive set), 2 hits on 1 peak")) << bar.err;
}
