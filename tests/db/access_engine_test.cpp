// The Access engine through the host's database commands: opening real and damaged files,
// both query forms against the SQLite engine on the same rows, what is refused, and the cache
// (built once, trusted only while it matches the file, rebuilt when stale or damaged).
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <thread>

#include "access_cache.h"
#include "access_test_util.h"
#include "db_engines.h"
#include "jet_writer.h"

using namespace dbtest;

namespace {

std::string topQuery(int n, const char* low, const char* high) {
    return std::string("SELECT * FROM (SELECT TOP ") + std::to_string(n) +
           " ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > " + low +
           ") AND (MassMI < " + high + ") ORDER BY Name) ORDER BY MassMI;";
}

std::string limitQuery(int n, const char* low, const char* high) {
    return std::string("SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > ") +
           low + ") AND (MassMI < " + high + ") ORDER BY MassMI ASC LIMIT " + std::to_string(n) +
           ";";
}

// Hexoses and their neighbours; names chosen so that name order and mass order differ.
std::vector<mkdb::Row> sugars() {
    return {
        {46.041865, "C2H6O", "Ethanol", "CCO"},
        {180.042259, "C9H8O4", "Aspirin", "CC(=O)Oc1ccccc1C(O)=O"},
        {180.063388, "C6H12O6", "\xCE\xB2-D-Glucose", "OC[C@H]1OC(O)[C@H](O)[C@@H](O)[C@@H]1O"},
        {180.063388, "C6H12O6", "D-Fructose; keto form", "OCC(=O)[C@@H](O)[C@H](O)[C@H](O)CO"},
        {180.063388, "C6H12O6", "myo-Inositol", "OC1C(O)C(O)C(O)C(O)C1O"},
        {180.063388, "C6H12O6", "d-galactose", "OC[C@H]1OC(O)[C@H](O)[C@@H](O)[C@H]1O"},
        {180.063389, "C6H12O6", "D-Galactose", "C"}, // ties with the one above by name
        {180.0645, "C6H12O6", "\xC3\x84pfel (\xC2\xB1)", "C"},
        {181.0707, "C6H13O6", "At the ion mass", std::string(3000, 'C')},
    };
}

struct AccessEngine : ::testing::Test {
    CacheFolder cache;
    TempDir dir;
    DbEngines db;
    std::string mdb, sqlite;

    void SetUp() override {
        mdb = dir.file("Sugars.mdb");
        sqlite = dir.file("Sugars.db");
        writeMolecules(mdb, sugars());
        writeMolecules(sqlite, sugars());
    }
    std::string open(const std::string& path) {
        CommandResult r = db.dbOpen("\"" + path + "\"");
        EXPECT_EQ(r.code, 0) << r.text;
        return r.text;
    }
    CommandResult exec(const std::string& handle, const std::string& sql) {
        return db.dbSqlExec(handle + " \"" + sql + "\"");
    }
    std::vector<std::string> ids(const CommandResult& r) {
        std::vector<std::string> out;
        for (const auto& row : cutAnswer(r.text, 5))
            out.push_back(row[0]);
        return out;
    }
};

TEST_F(AccessEngine, AnswersAsTheSqliteEngineDoes) {
    const std::string a = open(mdb), s = open(sqlite);
    EXPECT_EQ(db.dbInfo(a + " Format").text, "ACCESS");
    for (const char* window : {"180.000000", "180.063000", "46.000000"}) {
        const std::string q = limitQuery(200, window, "181.100000");
        const CommandResult ra = exec(a, q), rs = exec(s, q);
        ASSERT_EQ(ra.code, 0) << ra.text;
        EXPECT_EQ(ra.text, rs.text); // the same bytes: IDs, masses to the last digit, texts
    }
    EXPECT_EQ(exec(a, limitQuery(200, "180.0633", "180.0634")).text,
              "3;180.063388;C6H12O6;\xCE\xB2-D-Glucose;OC[C@H]1OC(O)[C@H](O)[C@@H](O)[C@@H]1O\n"
              "4;180.063388;C6H12O6;D-Fructose, keto form;OCC(=O)[C@@H](O)[C@H](O)[C@H](O)CO\n"
              "5;180.063388;C6H12O6;myo-Inositol;OC1C(O)C(O)C(O)C(O)C1O\n"
              "6;180.063388;C6H12O6;d-galactose;OC[C@H]1OC(O)[C@H](O)[C@@H](O)[C@H]1O\n"
              "7;180.063389;C6H12O6;D-Galactose;C\n");

    DbMolecule m;
    ASSERT_EQ(db.engine(a)->molecule(9, m).code, 0);
    EXPECT_EQ(m.smiles, std::string(3000, 'C'));
    EXPECT_EQ(db.engine(a)->molecule(99, m).code, DB_UNKNOWN_ROW);
}

TEST_F(AccessEngine, TopFormTakesTheFirstByNameListedByMass) {
    const std::string a = open(mdb);
    // The whole window in the TOP form is the LIMIT form's answer, to the byte.
    const CommandResult all = exec(a, topQuery(200, "180.000000", "181.000000"));
    ASSERT_EQ(all.code, 0) << all.text;
    EXPECT_EQ(all.text, exec(a, limitQuery(200, "180.000000", "181.000000")).text);
    // By name: Äpfel (with the a's: p before s), Aspirin, D-Fructose, then d-galactose and
    // D-Galactose (equal but for case: the lighter first), myo-Inositol, and β-D-Glucose
    // last (Greek after Latin). The hits are listed by mass.
    EXPECT_EQ(ids(exec(a, topQuery(3, "180.000000", "181.000000"))),
              (std::vector<std::string>{"2", "4", "8"}));
    EXPECT_EQ(ids(exec(a, topQuery(4, "180.000000", "181.000000"))),
              (std::vector<std::string>{"2", "4", "6", "8"}));
    EXPECT_EQ(ids(exec(a, topQuery(5, "180.000000", "181.000000"))),
              (std::vector<std::string>{"2", "4", "6", "7", "8"}));
    EXPECT_EQ(ids(exec(a, topQuery(6, "180.000000", "181.000000"))),
              (std::vector<std::string>{"2", "4", "5", "6", "7", "8"}));
    // The same statement in another shape runs through the general translation: the same
    // rows (those of equal mass may come in another order).
    std::string other = topQuery(5, "180.000000", "181.000000");
    other.replace(other.find("ORDER BY Name"), 13, "ORDER BY [Name] ASC");
    std::vector<std::string> five = ids(exec(a, other));
    std::sort(five.begin(), five.end());
    EXPECT_EQ(five, (std::vector<std::string>{"2", "4", "6", "7", "8"}));
    // The same answer every time.
    EXPECT_EQ(exec(a, topQuery(3, "180.000000", "181.000000")).text,
              exec(a, topQuery(3, "180.000000", "181.000000")).text);
}

TEST_F(AccessEngine, AccessSqlOfUsers) {
    const std::string a = open(mdb);
    EXPECT_EQ(exec(a, "SELECT [ID] FROM [Molecules] WHERE [Name] Like '*galactose' ORDER BY ID").text,
              "6\n7\n");
    EXPECT_EQ(exec(a, "SELECT ID FROM Molecules WHERE Name = 'D-GALACTOSE' ORDER BY ID").text, "6\n7\n");
    EXPECT_EQ(exec(a, "SELECT TOP 1 UCase(Name) & '/' & Len(Smiles) FROM Molecules ORDER BY MassMI DESC")
                  .text,
              "AT THE ION MASS/3000\n");
    EXPECT_EQ(exec(a, "SELECT count(*) FROM Molecules WHERE Formula Like 'C6H##O6'").text, "7\n");
}

TEST_F(AccessEngine, AFileNotInMassOrderIsCopiedInMassOrder) {
    // Access files made elsewhere need not hold their rows by mass.
    std::vector<mkdb::Row> rows = sugars();
    std::reverse(rows.begin(), rows.end());
    std::swap(rows[2], rows[5]);
    const std::string shuffled = dir.file("shuffled.mdb");
    writeMolecules(shuffled, rows);
    const std::string a = open(shuffled);
    const CommandResult r = exec(a, "SELECT MassMI FROM Molecules");
    ASSERT_EQ(r.code, 0) << r.text;
    EXPECT_EQ(r.text, "46.041865\n180.042259\n180.063388\n180.063388\n180.063388\n180.063388\n"
                      "180.063389\n180.0645\n181.0707\n");
    EXPECT_EQ(ids(exec(a, topQuery(3, "180.000000", "181.000000"))).size(), 3u);
    EXPECT_EQ(exec(a, "SELECT Name FROM Molecules WHERE ID = 9").text, "Ethanol\n"); // IDs kept
}

TEST_F(AccessEngine, RefusesAllButReadingMolecules) {
    const std::string a = open(mdb);
    struct Case {
        const char* sql;
        int code;
    } cases[] = {
        {"DELETE FROM Molecules", DB_NOT_READ_ONLY},
        {"DROP TABLE Molecules", DB_NOT_READ_ONLY},
        {"SELECT 1; SELECT 2", DB_NOT_READ_ONLY},
        {"SELECT * INTO Copy FROM Molecules", DB_NOT_READ_ONLY},
        {"PRAGMA query_only=OFF", DB_NOT_READ_ONLY},
        {"SELECT * FROM Other", DB_SQL_ERROR},
        {"SELECT * FROM tarvish_cache_info", DB_SQL_ERROR}, // the cache's own table is not there
        {"SELECT name FROM sqlite_master", DB_SQL_ERROR},
        {"SELECT TOP 5 PERCENT * FROM Molecules", DB_SQL_ERROR},
        {"SELECT nonsense FROM Molecules", DB_SQL_ERROR},
    };
    for (const Case& c : cases) {
        const CommandResult r = exec(a, c.sql);
        EXPECT_EQ(r.code, c.code) << c.sql << ": " << r.text;
        EXPECT_FALSE(r.text.empty());
    }
    EXPECT_NE(exec(a, "SELECT * FROM tarvish_cache_info").text.find("no such table"),
              std::string::npos);
    EXPECT_EQ(exec(a, "SELECT count(*) FROM Molecules").text, "9\n"); // nothing was changed
}

TEST_F(AccessEngine, RealFilesWithoutMoleculesFailLikeSqlite) {
    // The same code and text as the SQLite engine gives for a database without Molecules.
    const std::string plain = dir.file("plain.db");
    sql(plain, "CREATE TABLE Other(x)");
    const CommandResult s = db.dbOpen("\"" + plain + "\"");
    for (const char* name : {"nwind.mdb", "ASampleDatabase.accdb"}) {
        const std::string path = testData(name);
        const CommandResult r = db.dbOpen("\"" + path + "\"");
        EXPECT_EQ(r.code, DB_NO_MOLECULES) << name;
        EXPECT_EQ(r.code, s.code);
        EXPECT_EQ(r.text, "The database " + path + " has no table Molecules");
    }
    // A table Molecules without Smiles: the SQLite engine's text too.
    mkdb::JetTableWriter w(dir.file("few.mdb"), "Molecules",
                           mkdb::jet::TableDef({{"ID", mkdb::jet::kLong},
                                                {"massmi", mkdb::jet::kDouble},
                                                {"Formula", mkdb::jet::kText, 20},
                                                {"Name", mkdb::jet::kText, 20}}));
    std::string error;
    ASSERT_TRUE(w.start(error) && w.finish(error)) << error;
    const CommandResult r = db.dbOpen("\"" + dir.file("few.mdb") + "\"");
    EXPECT_EQ(r.code, DB_NO_MOLECULES);
    EXPECT_EQ(r.text, "The table Molecules of " + dir.file("few.mdb") + " lacks the column(s) Smiles");
}

TEST_F(AccessEngine, DamagedFilesGiveACodeAndAText) {
    const std::string good = readFile(mdb);
    auto check = [&](const std::string& path, const std::string& what) {
        const CommandResult r = db.dbOpen("\"" + path + "\"");
        EXPECT_NE(r.code, 0) << what;
        EXPECT_FALSE(r.text.empty()) << what;
        EXPECT_NE(r.text.find(path), std::string::npos) << what << ": " << r.text;
    };
    for (size_t pages = 0; pages <= 8; ++pages) { // cut at each of the first page boundaries
        const std::string p = dir.file("cut" + std::to_string(pages) + ".mdb");
        writeFile(p, good.substr(0, pages * 4096));
        check(p, "cut after " + std::to_string(pages) + " pages");
    }
    std::mt19937 rnd(7);
    std::string noise = good;
    for (size_t i = 4096; i < noise.size(); ++i) // random bytes over every page but the header
        noise[i] = char(rnd());
    writeFile(dir.file("noise.mdb"), noise);
    check(dir.file("noise.mdb"), "random pages");
    writeFile(dir.file("empty.mdb"), "");
    check(dir.file("empty.mdb"), "empty");
    fs::create_directories(dir.path() / "x.mdb");
    const CommandResult folder = db.dbOpen("\"" + dir.file("x.mdb") + "\"");
    EXPECT_EQ(folder.code, DB_FILE_NOT_FOUND);
    fs::copy_file(sqlite, dir.file("renamed.mdb"));
    const CommandResult renamed = db.dbOpen("\"" + dir.file("renamed.mdb") + "\"");
    EXPECT_EQ(renamed.code, DB_NOT_A_DATABASE);
    EXPECT_EQ(renamed.text, "Not an Access database: " + dir.file("renamed.mdb"));
    EXPECT_TRUE(cache.caches().empty()); // nothing was kept of the bad files
}

TEST_F(AccessEngine, CorruptedPagesNeverCrash) {
    // Runs of random bytes at random places: the file opens with the right rows, or fails
    // with a code and a text; it never crashes or hangs (also under ASan/UBSan).
    const std::string good = readFile(mdb);
    std::mt19937 rnd(11);
    for (int round = 0; round < 150; ++round) {
        std::string bad = good;
        const size_t page = rnd() % (good.size() / 4096);
        for (int k = 0; k < 1 + int(rnd() % 6); ++k) {
            const size_t at = page * 4096 + rnd() % 4096, len = 1 + rnd() % 48;
            for (size_t i = at; i < std::min(at + len, bad.size()); ++i)
                bad[i] = char(rnd());
        }
        const std::string p = dir.file("fuzz.mdb");
        writeFile(p, bad);
        DbEngines fresh;
        const CommandResult r = fresh.dbOpen("\"" + p + "\"");
        if (r.code == 0) {
            const CommandResult q = fresh.dbSqlExec(r.text + " \"SELECT count(*) FROM Molecules\"");
            EXPECT_TRUE(q.code != 0 || !q.text.empty()) << round;
        } else {
            EXPECT_FALSE(r.text.empty()) << round;
        }
    }
}

struct stat statOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
}

TEST_F(AccessEngine, CacheBuiltOnceAndNeverTrustedWhenStaleOrDamaged) {
    const std::string bytes = readFile(mdb);
    const struct stat before = statOf(mdb);
    const std::string a = open(mdb);
    ASSERT_EQ(cache.caches().size(), 1u);
    const fs::path file = cache.caches()[0];
    const auto built = fs::last_write_time(file);
    EXPECT_EQ(exec(a, "SELECT count(*) FROM Molecules").text, "9\n");
    db.closeAll();
    open(mdb); // from the cache: not built again
    EXPECT_EQ(fs::last_write_time(file), built);

    // The .mdb is never written: its bytes and its modification time are as they were.
    EXPECT_EQ(readFile(mdb), bytes);
    EXPECT_EQ(statOf(mdb).st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(statOf(mdb).st_mtim.tv_sec, before.st_mtim.tv_sec);

    // A new version of the file: an open handle sees it at its next statement.
    const std::string handle = open(mdb);
    writeMolecules(mdb, {{100.0, "X", "only", "C"}});
    EXPECT_EQ(exec(handle, "SELECT Name FROM Molecules").text, "only\n");
    db.closeAll();

    // A damaged cache (its rows cut away) is rebuilt.
    {
        const std::string c = readFile(file.string());
        writeFile(file.string(), c.substr(0, c.size() / 2));
    }
    EXPECT_EQ(exec(open(mdb), "SELECT Name FROM Molecules").text, "only\n");
    // So is one whose key is of an older format or file, and one that is not SQLite at all.
    sql(file.string(), "UPDATE tarvish_cache_info SET value = 'format=0;' || value WHERE name = 'source';"
                       "DELETE FROM Molecules");
    EXPECT_EQ(exec(open(mdb), "SELECT Name FROM Molecules").text, "only\n");
    writeFile(file.string(), std::string(8192, 'x'));
    EXPECT_EQ(exec(open(mdb), "SELECT Name FROM Molecules").text, "only\n");

    // A file that turned bad: its cache goes too.
    writeFile(mdb, "garbage");
    EXPECT_NE(db.dbOpen("\"" + mdb + "\"").code, 0);
    EXPECT_TRUE(cache.caches().empty());
}

TEST_F(AccessEngine, DamageFoundByAQueryRebuildsTheCache) {
    const std::string a = open(mdb);
    const fs::path file = cache.caches().at(0);
    // Damage that the checks at opening do not see (they read the cache's own table and
    // count through an index): the page of the table's rows.
    const auto root = query(file.string(), "SELECT rootpage FROM sqlite_master WHERE name = 'Molecules'");
    ASSERT_EQ(root.size(), 1u);
    ASSERT_EQ(query(file.string(), "PRAGMA page_size").at(0).at(0), "4096");
    std::string c = readFile(file.string());
    c[(std::stoul(root[0][0]) - 1) * 4096] = '\x01'; // not a kind of b-tree page
    writeFile(file.string(), c);
    DbEngines other;
    const CommandResult o = other.dbOpen("\"" + mdb + "\"");
    ASSERT_EQ(o.code, 0) << o.text;
    const CommandResult r = other.dbSqlExec(o.text + " \"" + limitQuery(200, "0", "1000") + "\"");
    ASSERT_EQ(r.code, 0) << r.text;
    EXPECT_EQ(cutAnswer(r.text, 5).size(), 9u);
    EXPECT_EQ(exec(a, "SELECT count(*) FROM Molecules").text, "9\n"); // the first one still reads
}

TEST_F(AccessEngine, WithoutAWritableCacheFolderTheCopyIsInMemory) {
    writeFile(dir.file("file"), "");
    ::setenv("XDG_CACHE_HOME", dir.file("file").c_str(), 1); // a folder cannot be made there
    const std::string a = open(mdb);
    EXPECT_EQ(exec(a, "SELECT count(*) FROM Molecules").text, "9\n");
}

TEST_F(AccessEngine, TwoHostsBuildingTheSameCache) {
    std::vector<std::string> answers(4);
    std::vector<std::thread> hosts;
    for (size_t i = 0; i < answers.size(); ++i)
        hosts.emplace_back([&, i] {
            DbEngines own;
            const CommandResult r = own.dbOpen("\"" + mdb + "\"");
            answers[i] = r.code ? r.text : own.dbSqlExec(r.text + " \"" + limitQuery(200, "0", "1000") + "\"").text;
        });
    for (auto& t : hosts)
        t.join();
    for (const std::string& s : answers)
        EXPECT_EQ(s, answers[0]);
    EXPECT_EQ(cutAnswer(answers[0], 5).size(), 9u);
    EXPECT_EQ(cache.caches().size(), 1u);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(cache.folder(), ec))
        EXPECT_EQ(e.path().string().find(".tmp-"), std::string::npos) << e.path();
}

} // namespace
