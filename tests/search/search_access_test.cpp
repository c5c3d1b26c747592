// The search on Access databases through the host's real interpreter and its Access engine:
// a database the test writes, and the Access copies of the demo databases
// (scripts/build-demo-dbs.sh with TW_DEMO_ACCESS=1, in TW_DEMO_DATA_DIR/access/), whose hits
// must be those of the same searches on the SQLite demo databases.
#include <QTemporaryDir>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <sqlite3.h>

#include "access_sql.h"
#include "db_writer.h"
#include "search_fixture.h"

namespace {

std::string DemoDataDir() {
    if (const char* d = std::getenv("TW_DEMO_DATA_DIR")) return std::string(d) + "/";
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    return (xdg && *xdg ? std::string(xdg) : std::string(home ? home : "") + "/.local/share") +
           "/tarvish/";
}

struct Stored {
    int id;
    std::string mass; // as the SQLite engine writes it
    std::string name;
};

// The rows of a SQLite molecule database between the bounds the plug-in sent, in the order
// of the file (ascending mass).
std::vector<Stored> Window(const std::string& db, const std::string& low, const std::string& high) {
    std::vector<Stored> out;
    sqlite3* h = nullptr;
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT ID, MassMI, Name FROM Molecules WHERE MassMI > " + low +
                            " AND MassMI < " + high + " ORDER BY rowid";
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            char buf[64];
            const double m = sqlite3_column_double(st, 1);
            auto r = std::to_chars(buf, buf + sizeof buf, m, std::chars_format::fixed);
            const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
            out.push_back({sqlite3_column_int(st, 0), std::string(buf, r.ptr), n ? n : ""});
        }
    }
    EXPECT_TRUE(st) << "cannot read " << db;
    sqlite3_finalize(st);
    sqlite3_close(h);
    return out;
}

// The number after `key` in the SQL the plug-in sent.
std::string BoundIn(const std::string& cmd, const std::string& key) {
    const size_t at = cmd.find(key);
    if (at == std::string::npos) return "0";
    const size_t b = at + key.size(), e = cmd.find(')', b);
    return cmd.substr(b, e - b);
}

struct AccessSearch : SearchFixture {
    QTemporaryDir cache;
    std::string savedCache;
    void SetUp() override {
        SearchFixture::SetUp();
        const char* c = std::getenv("XDG_CACHE_HOME");
        savedCache = c ? c : "";
        ::setenv("XDG_CACHE_HOME", cache.path().toUtf8().constData(), 1);
    }
    void TearDown() override {
        SearchFixture::TearDown();
        if (savedCache.empty())
            ::unsetenv("XDG_CACHE_HOME");
        else
            ::setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
    }
    // The hits of the last search: ID, mass as listed, name, in the list's order.
    std::vector<Stored> hits(TDlgQvMain* d) {
        std::vector<Stored> out;
        const QStringList mass = column(d, 0), name = column(d, 2);
        for (int k = 0; k < d->RowCount; ++k)
            out.push_back({d->RowIds[k], mass[k].toStdString(), name[k].toStdString()});
        return out;
    }
    static bool byName(const Stored& a, const Stored& b) {
        return accessdb::compareAccessText(a.name.data(), a.name.size(), b.name.data(), b.name.size()) < 0;
    }
    // Checks the TOP form's hits against the window's rows: the first n by name (ties in
    // the order of the file), listed by mass.
    void expectFirstByName(const std::vector<Stored>& got, std::vector<Stored> window, size_t n) {
        std::stable_sort(window.begin(), window.end(), byName);
        window.resize(std::min(n, window.size()));
        auto key = [](const Stored& s) { return std::to_string(s.id) + "/" + s.mass + "/" + s.name; };
        std::vector<std::string> want, have;
        for (const Stored& s : window)
            want.push_back(key(s));
        for (const Stored& s : got)
            have.push_back(key(s));
        std::sort(want.begin(), want.end());
        std::sort(have.begin(), have.end());
        EXPECT_EQ(have, want);
        for (size_t k = 1; k < got.size(); ++k)
            EXPECT_LE(std::stod(got[k - 1].mass), std::stod(got[k].mass)) << "listed by mass";
    }
};

TEST_F(AccessSearch, TheTopFormOnAnAccessDatabase) {
    std::string error;
    auto w = mkdb::openRowWriter(dataDir() + "Databases/S\xC3\xA4uren.mdb", error);
    ASSERT_TRUE(w) << error;
    const mkdb::Row rows[] = {
        {89.047678, "C3H7NO2", "\xCE\xB2-Alanin", "NCCC(O)=O"},
        {90.031694, "C3H6O3", "(\xC2\xB1)-Milchs\xC3\xA4ure", "CC(O)C(O)=O"},
        {90.031694, "C3H6O3", "Glycerinaldehyd", "OCC(O)C=O"},
        {90.031694, "C3H6O3", "\xC3\x84thylenglykol-Ameisens\xC3\xA4ure", "C"},
        {90.031695, "C3H6O3", "Dihydroxyaceton", "OCC(=O)CO"},
        {90.0317, "C3H6O3", "zuletzt", "C"},
    };
    long long id = 100;
    for (const mkdb::Row& r : rows)
        ASSERT_TRUE(w->add(++id, r, error)) << error;
    ASSERT_TRUE(w->finish(error)) << error;

    host.clearAnswers();
    host.useRealInterpreter("english", dataDir());
    TDlgQvMain* d = show();
    choose(d, entryOf(d, QString::fromUtf8("S\xC3\xA4uren")));
    ASSERT_FALSE(d->DbName.empty());
    EXPECT_EQ(1, d->DbFormat); // "DbInfo ... Format" answered ACCESS
    EXPECT_EQ(1u, sent("DbInfo").size());

    search(d, "90.0317", "10", 1, "200");
    EXPECT_NE(sent("DbSqlExec").back().find("\"SELECT * FROM (SELECT TOP 200 ID, MassMI"),
              std::string::npos)
        << sent("DbSqlExec").back();
    const std::vector<Stored> all = hits(d);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[0].name, "(\xC2\xB1)-Milchs\xC3\xA4ure"); // ä and ± intact
    EXPECT_EQ(all[0].mass, "90.031694");

    // Fewer than the window: the first by name (Äthylen... with the A's, Dihydroxyaceton,
    // Glycerinaldehyd; the ± name's parenthesis first of all), listed by mass.
    search(d, "90.0317", "10", 1, "3");
    std::vector<std::string> names;
    for (const Stored& s : hits(d))
        names.push_back(s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"(\xC2\xB1)-Milchs\xC3\xA4ure",
                                               "\xC3\x84thylenglykol-Ameisens\xC3\xA4ure",
                                               "Dihydroxyaceton"}));
    EXPECT_EQ("3", d->ui.LBL_FoundNumVal->text().toStdString());
    search(d, "89.0477", "5", 1, "10");
    ASSERT_EQ(hits(d).size(), 1u);
    EXPECT_EQ(hits(d)[0].name, "\xCE\xB2-Alanin");
}

// The Access copy of a demo database searched as the plug-in does, against the SQLite one;
// all the window's hits are left in all.
void SearchDemo(AccessSearch& t, const std::string& db, const char* mass, const char* ppm,
                const char* limit, size_t wantAtLeast, std::vector<Stored>& all) {
    const std::string demo = DemoDataDir();
    const std::string sqlite = demo + "Databases/" + db + ".db";
    const std::string access = demo + "access/Databases/" + db + ".mdb";
    ASSERT_TRUE(std::ifstream(sqlite).good()) << sqlite << " missing: scripts/build-demo-dbs.sh";
    ASSERT_TRUE(std::ifstream(access).good())
        << access << " missing: TW_DEMO_ACCESS=1 scripts/build-demo-dbs.sh";
    if (!t.initialised) {
        t.host.clearAnswers();
        t.host.useRealInterpreter("english", demo + "access/");
    }
    TDlgQvMain* d = t.show();
    t.choose(d, t.entryOf(d, QString::fromStdString(db)));
    ASSERT_FALSE(d->DbName.empty());
    ASSERT_EQ(1, d->DbFormat);

    t.search(d, mass, ppm, 1, "100000"); // every hit of the window
    const std::string cmd = t.sent("DbSqlExec").back();
    const std::vector<Stored> window =
        Window(sqlite, BoundIn(cmd, "MassMI > "), BoundIn(cmd, "MassMI < "));
    ASSERT_GE(window.size(), wantAtLeast);
    all = t.hits(d);
    t.expectFirstByName(all, window, window.size()); // the same IDs, masses, names

    t.search(d, mass, ppm, 1, limit);
    ASSERT_LT(size_t(std::stoi(limit)), window.size());
    t.expectFirstByName(t.hits(d), window, size_t(std::stoi(limit)));
}

TEST_F(AccessSearch, MetabolitesAsInTheSqliteDemo) {
    std::vector<Stored> all;
    SearchDemo(*this, "Metabolites", "180.0634", "5", "7", 20, all); // the hexoses
    SearchDemo(*this, "Metabolites", "412.3341", "2", "3", 7, all);  // sterols, one a 3β-ol
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const Stored& s) {
        return s.name == "4\xCE\xB1-formyl-5\xCE\xB1-cholesta-8,24-dien-3\xCE\xB2-ol";
    }));
    SearchDemo(*this, "Metabolites", "86.0732", "3", "2", 3, all); // one a (±) name
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const Stored& s) {
        return s.name == "(\xC2\xB1)-2-Methylbutanal";
    }));
}

TEST_F(AccessSearch, CommonCompoundsAsInTheSqliteDemo) {
    std::vector<Stored> all;
    SearchDemo(*this, "Common compounds", "200", "500000", "10", 300, all);
}

} // namespace
