// The first start's demo databases: which Debian data is there, when the host
// offers them, and the build with the real tarvish-mkdb into a staging folder.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "demo_databases.h"
#include "profile.h"

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string cml(const char* name, const char* element, int hydrogens) {
    std::string atoms = std::string("<atom id=\"a0\" elementType=\"") + element + "\"/>";
    std::string bonds;
    for (int i = 1; i <= hydrogens; ++i) {
        atoms += "<atom id=\"a" + std::to_string(i) + "\" elementType=\"H\"/>";
        bonds += "<bond atomRefs2=\"a0 a" + std::to_string(i) + "\" order=\"1\"/>";
    }
    return std::string("<?xml version=\"1.0\"?>\n<molecule xmlns=\"http://www.xml-cml.org/schema\">") +
           "<name>" + name + "</name><atomArray>" + atoms + "</atomArray><bondArray>" + bonds +
           "</bondArray></molecule>\n";
}

// A file system root holding the two Debian data sets, in small.
struct FakeRoot {
    QTemporaryDir dir;
    fs::path root() const { return dir.path().toStdString(); }
    fs::path tsv() const { return root() / "usr/share/openms/CHEMISTRY/HMDB2StructMapping.tsv"; }
    void addMetabolites(int copies = 1) {
        std::string text;
        for (int i = 0; i < copies; ++i)
            text += "HMDB01\tD-Glucose\tOC[C@H]1OC(O)[C@H](O)[C@@H](O)[C@@H]1O\tInChI=1S\n"
                    "HMDB02\tEthanol\tCCO\tInChI=1S\n"
                    "HMDB03\tBroken\tC1CC(\tInChI=1S\n";
        writeFile(tsv(), text);
    }
    void addCompounds() {
        writeFile(root() / "usr/share/chemical-structures/inorganic/water.cml", cml("Water", "O", 2));
        writeFile(root() / "usr/share/chemical-structures/alkanes/methane.cml", cml("Methane", "C", 4));
        writeFile(root() / "usr/share/chemical-structures/alkanes/README", "not a structure");
    }
};

long long rowCount(const fs::path& db) {
    sqlite3* c = nullptr;
    long long n = -1;
    if (sqlite3_open_v2(db.c_str(), &c, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(c, "SELECT COUNT(*) FROM Molecules", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(c);
    return n;
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

struct BuildResult {
    bool finished = false, ok = false;
    QString message;
    long long lastDone = -1;
};

// Runs the builder to its end; cancelAt: cancel at the first progress at or past it.
BuildResult runBuilder(DemoDatabaseBuilder& b, long long cancelAt = -1) {
    BuildResult r;
    QEventLoop loop;
    QObject::connect(&b, &DemoDatabaseBuilder::progress, [&](long long done, const QString&) {
        EXPECT_GE(done, r.lastDone) << "progress goes back";
        r.lastDone = done;
        if (cancelAt >= 0 && done >= cancelAt) b.cancel();
    });
    QObject::connect(&b, &DemoDatabaseBuilder::finished, [&](bool ok, const QString& m) {
        r.finished = true;
        r.ok = ok;
        r.message = m;
        loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    b.start();
    if (!r.finished) loop.exec();
    return r;
}

TEST(DemoSources, FindsTheDebianDataAndNamesTheMissingPackages) {
    FakeRoot fake;
    std::vector<DemoSource> none = findDemoSources(fake.root());
    ASSERT_EQ(2u, none.size());
    EXPECT_FALSE(none[0].available());
    EXPECT_FALSE(none[1].available());
    EXPECT_EQ((std::vector<std::string>{"openms-common", "chemical-structures-data"}), missingDemoPackages(none));

    fake.addMetabolites(2);
    std::vector<DemoSource> half = findDemoSources(fake.root());
    EXPECT_EQ("Metabolites.db", half[0].database);
    EXPECT_EQ((std::vector<std::string>{fake.tsv().string()}), half[0].inputs);
    EXPECT_EQ(6, half[0].expectedRecords);
    EXPECT_EQ((std::vector<std::string>{"chemical-structures-data"}), missingDemoPackages(half));

    fake.addCompounds();
    std::vector<DemoSource> all = findDemoSources(fake.root().string() + "/");
    EXPECT_TRUE(missingDemoPackages(all).empty());
    EXPECT_EQ("Common compounds.db", all[1].database);
    ASSERT_EQ(2u, all[1].inputs.size());  // the README is no structure
    EXPECT_NE(std::string::npos, all[1].inputs[0].find("alkanes/methane.cml"));
    EXPECT_NE(std::string::npos, all[1].inputs[1].find("inorganic/water.cml"));
    EXPECT_EQ(2, all[1].expectedRecords);

    // The command line writes into the staging folder it is given.
    std::vector<std::string> args = demoBuildArguments(all[0], "/s");
    EXPECT_EQ("--progress", args.front());
    EXPECT_EQ(fake.tsv().string(), args.back());
    auto o = std::find(args.begin(), args.end(), "-o");
    ASSERT_NE(args.end(), o);
    EXPECT_EQ("/s/Databases/Metabolites.db", *(o + 1));
    auto rej = std::find(args.begin(), args.end(), "--rejects");
    ASSERT_NE(args.end(), rej);
    EXPECT_EQ("/s/Metabolites.rejects.txt", *(rej + 1));
}

TEST(DemoSources, OfferedOnlyOnAWindowedFirstStartInTheDefaultFolder) {
    QTemporaryDir tmp;
    HostOptions o;
    o.dataDir = tmp.path().toStdString() + "/data/";
    o.iniFile = tmp.path().toStdString() + "/tarvish.ini";
    EXPECT_TRUE(shouldOfferDemoDatabases(o));

    HostOptions exec = o;
    exec.exec = true;
    EXPECT_FALSE(shouldOfferDemoDatabases(exec));
    HostOptions given = o;
    given.dataDirGiven = true;
    EXPECT_FALSE(shouldOfferDemoDatabases(given));

    setOfferDemoDatabases(o.iniFile, false);
    EXPECT_FALSE(shouldOfferDemoDatabases(o));
    EXPECT_EQ("0", twprofile::readString(o.iniFile, "Tarvish", "OfferDemoDatabases", ""));
    setOfferDemoDatabases(o.iniFile, true);
    EXPECT_TRUE(shouldOfferDemoDatabases(o));

    fs::create_directories(o.dataDir + "Databases");
    EXPECT_FALSE(shouldOfferDemoDatabases(o));  // even an empty folder is the user's choice
    EXPECT_EQ("/opt/tarvish/bin/tarvish-mkdb", installedMkdb("/opt/tarvish"));
    EXPECT_EQ("/opt/tarvish/bin/tarvish-mkdb", installedMkdb("/opt/tarvish/"));
}

TEST(DemoSources, ReadsTheCountOfTheLastCompleteProgressLine) {
    EXPECT_EQ(-1, lastProgressCount(""));
    EXPECT_EQ(-1, lastProgressCount("tarvish-mkdb: cannot open x"));
    EXPECT_EQ(250, lastProgressCount("\r10 read, 9 stored\r250 read, 240 stored"));
    // A line cut in the middle counts as the one before it.
    EXPECT_EQ(250, lastProgressCount("\r10 read, 9 stored\r250 read, 240 stored\r300 read, 29"));
    EXPECT_EQ(12, lastProgressCount("12 read, 12 stored"));
    // The summary after the last progress line is no progress line.
    EXPECT_EQ(7, lastProgressCount("\r7 read, 7 stored\nx.db: 7 records read, 7 stored, 0 rejected (0.1 s)\n"));
}

TEST(DemoBuild, CommitMovesTheFolderOrAddsWhatTheUsersFolderLacks) {
    QTemporaryDir tmp;
    const fs::path data = tmp.path().toStdString();
    writeFile(data / "stage1/Databases/A.db", "new A");
    writeFile(data / "stage1/A.rejects.txt", "line 3: bad");
    std::string error;
    ASSERT_TRUE(commitDemoBuild((data / "stage1").string(), data.string(), error)) << error;
    EXPECT_EQ((std::vector<std::string>{"A.db"}), entries(data / "Databases"));
    EXPECT_TRUE(fs::exists(data / "A.rejects.txt"));
    EXPECT_FALSE(fs::exists(data / "stage1"));

    // The user's own A.db stays as it is; B.db is added.
    writeFile(data / "Databases/A.db", "the user's A");
    writeFile(data / "stage2/Databases/A.db", "demo A");
    writeFile(data / "stage2/Databases/B.db", "demo B");
    ASSERT_TRUE(commitDemoBuild((data / "stage2").string(), data.string(), error)) << error;
    EXPECT_EQ((std::vector<std::string>{"A.db", "B.db"}), entries(data / "Databases"));
    std::ifstream a(data / "Databases/A.db");
    std::string text((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
    EXPECT_EQ("the user's A", text);
    EXPECT_FALSE(fs::exists(data / "stage2"));
}

TEST(DemoBuild, BuildsEveryAvailableDatabaseWithTheRealTool) {
    FakeRoot fake;
    fake.addMetabolites();
    fake.addCompounds();
    QTemporaryDir tmp;
    const fs::path data = tmp.path().toStdString() + "/tarvish";
    // A staging folder left by a host that was killed while building.
    writeFile(data / ".demo-databases-4194305/Databases/Metabolites.db.tmp-1", "half");

    DemoDatabaseBuilder b(TW_MKDB_PATH, data.string(), findDemoSources(fake.root()));
    EXPECT_EQ(3 + 2, b.total());
    BuildResult r = runBuilder(b);
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(b.total(), r.lastDone);
    EXPECT_EQ(2, rowCount(data / "Databases/Metabolites.db"));  // the broken SMILES is rejected
    EXPECT_EQ(2, rowCount(data / "Databases/Common compounds.db"));
    EXPECT_EQ((std::vector<std::string>{"Common compounds.db", "Metabolites.db"}), entries(data / "Databases"));
    EXPECT_EQ((std::vector<std::string>{"Common compounds.rejects.txt", "Databases", "Metabolites.rejects.txt"}),
              entries(data));
    std::ifstream rejects(data / "Metabolites.rejects.txt");
    std::string line;
    std::getline(rejects, line);
    EXPECT_NE(std::string::npos, line.find("Broken")) << line;
}

TEST(DemoBuild, ACancelOrAFailureLeavesNoFileBehind) {
    FakeRoot fake;
    fake.addMetabolites(40000);  // 120,000 records: long enough to cancel on the way
    QTemporaryDir tmp;
    const fs::path data = tmp.path().toStdString() + "/tarvish";
    {
        DemoDatabaseBuilder b(TW_MKDB_PATH, data.string(), findDemoSources(fake.root()));
        BuildResult r = runBuilder(b, 1);
        ASSERT_TRUE(r.finished);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(b.running());
        EXPECT_TRUE(entries(data).empty()) << entries(data).front();
    }
    {
        // No tool: the failure is reported, and no empty Databases folder
        // stops the next start from offering again.
        DemoDatabaseBuilder b(data.string() + "/no-such-mkdb", data.string(), findDemoSources(fake.root()));
        BuildResult r = runBuilder(b);
        ASSERT_TRUE(r.finished);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.message.contains("Metabolites.db")) << r.message.toStdString();
        EXPECT_TRUE(entries(data).empty());
    }
    {
        // Nothing to build.
        FakeRoot empty;
        DemoDatabaseBuilder b(TW_MKDB_PATH, data.string(), findDemoSources(empty.root()));
        BuildResult r = runBuilder(b);
        EXPECT_TRUE(r.finished);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(entries(data).empty());
    }
}

} // namespace

namespace {

TEST(HostCommandLine, MarksADataDirectoryGivenOnTheCommandLine) {
    HostOptions o = parseHostOptions({"--data-dir", "/d", "--exec", "Get DataDir"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_TRUE(o.dataDirGiven);
    EXPECT_FALSE(parseHostOptions({"--lang", "german"}).dataDirGiven);
}

} // namespace
