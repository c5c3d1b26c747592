// End to end: the plug-in's search through the host's real interpreter on the PostgreSQL
// copy of the demo metabolites (the shared server), on the demo database through the SQLite
// ODBC driver, and on Metabolites.db itself: the same rows. And a server restarted between
// two searches: the plug-in's re-open brings the rows back.
#include <QTreeWidget>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <sstream>

#include "odbc_test_util.h"
#include "search_fixture.h"

using namespace odbctest;

namespace {

struct Hit {
    int id;
    std::string mass, formula, name;
    bool operator==(const Hit& o) const {
        return id == o.id && mass == o.mass && formula == o.formula && name == o.name;
    }
};

// The mass as a driver that passes reals as "%.15g" text gives it (the SQLite ODBC driver).
std::string fifteenDigits(const std::string& mass) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", std::atof(mass.c_str()));
    const double v = std::atof(buf);
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return std::string(buf, r.ptr);
}

struct OdbcSearch : SearchFixture {
    TDlgQvMain* d = nullptr;

    void SetUp() override {
        SearchFixture::SetUp();
        host.clearAnswers();
        host.useRealInterpreter("english", dataDir());
    }

    std::vector<Hit> hits() {
        std::vector<Hit> out;
        for (int k = 0; k < d->RowCount; ++k) {
            QTreeWidgetItem* item = d->ui.LV_Results->topLevelItem(k);
            out.push_back({d->RowIds[k], item->text(0).toStdString(), item->text(1).toStdString(),
                           item->text(2).toStdString()});
        }
        return out;
    }
    void open(const QString& entry) {
        const int i = entryOf(d, entry);
        ASSERT_GT(i, 0) << entry.toStdString();
        choose(d, i);
        ASSERT_FALSE(d->DbName.empty()) << entry.toStdString();
        EXPECT_EQ(0, d->DbFormat); // POSTGRESQL and SQLITE: the LIMIT form
    }
};

TEST_F(OdbcSearch, ThePostgresqlCopyTheSqliteDataSourceAndTheFileGiveTheSameRows) {
    const std::string server = sharedServer();
    const std::string demo = demoDb();
    ASSERT_FALSE(server.empty());
    ASSERT_TRUE(fs::exists(demo));
    const std::string dbDir = dataDir() + "Databases/";
    fs::create_symlink(demo, dbDir + "Metabolites.db");
    std::ifstream in(server + "/Metabolites.dsn");
    std::stringstream written;
    written << in.rdbuf();
    std::ofstream(dbDir + "Metabolites on the server.dsn") << written.str() << "PWD=tv-reader-pw\n";
    std::ofstream(dbDir + "Metabolites via ODBC.dsn") << "[ODBC]\nDRIVER=SQLite3\nDATABASE=" << demo << "\n";
    d = show();

    struct Search {
        const char* mass;
        const char* ppm;
        int mode;
        const char* max;
    };
    const Search searches[] = {
        {"180.0634", "5", 1, "200"},  // the hexoses
        {"181.0707", "5", 0, "200"},  // the same as [M+H]+
        {"195.0877", "10", 0, "200"}, // caffeine as [M+H]+
        {"303.2330", "5", 2, "200"},  // arachidonic acid as [M-H]-
        {"400", "2000", 1, "50"},     // a wide window cut by the limit
        {"760.5851", "20", 1, "200"}, // lipids, long names
    };
    int cut = 0, rows = 0;
    bool nonAscii = false;
    for (const Search& s : searches) {
        SCOPED_TRACE(s.mass);
        open("Metabolites");
        search(d, s.mass, s.ppm, s.mode, s.max);
        const std::vector<Hit> want = hits();
        ASSERT_FALSE(want.empty());
        rows += int(want.size());
        for (const Hit& h : want)
            nonAscii = nonAscii || std::any_of(h.name.begin(), h.name.end(),
                                               [](char c) { return static_cast<unsigned char>(c) >= 0x80; });

        open("Metabolites on the server");
        search(d, s.mass, s.ppm, s.mode, s.max);
        EXPECT_TRUE(want == hits());
        EXPECT_EQ(QString::number(want.size()), d->ui.LBL_FoundNumVal->text());

        open("Metabolites via ODBC");
        search(d, s.mass, s.ppm, s.mode, s.max);
        const std::vector<Hit> got = hits();
        ASSERT_EQ(want.size(), got.size());
        for (size_t i = 0; i < want.size(); ++i) {
            if (want[i] == got[i]) continue;
            // The SQLite ODBC driver cuts reals to 15 significant digits.
            Hit cutHit = want[i];
            cutHit.mass = fifteenDigits(want[i].mass);
            EXPECT_TRUE(cutHit == got[i]) << want[i].id << " " << want[i].mass << " " << got[i].mass;
            ++cut;
        }
    }
    EXPECT_TRUE(nonAscii) << "no name beyond ASCII in the windows";
    std::printf("%d rows compared; %d masses cut to 15 digits by the SQLite ODBC driver\n", rows, cut);
    // Every search ran at its first try: no re-open after a failed query.
    EXPECT_EQ(3 * std::size(searches), sent("DbOpen").size());
}

TEST_F(OdbcSearch, AServerRestartedBetweenTwoSearchesIsOpenedAgainByTheSearch) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.ok());
    makeSmallTable(cluster.dir());
    writeDsn(dataDir() + "Databases/Lab server.dsn", cluster.dir());
    d = show();
    open("Lab server");
    const std::string first = d->DbName;
    search(d, "180.0634", "5", 1);
    ASSERT_EQ("2", d->ui.LBL_FoundNumVal->text());
    const QStringList names = column(d, 2);
    EXPECT_TRUE(names.contains(QString::fromUtf8("\xCE\xB2-D-Glucose")));
    EXPECT_TRUE(names.contains("D-Fructose, keto form"));

    ASSERT_TRUE(cluster.restart());
    host.commands.clear();
    search(d, "180.0634", "5", 1);
    EXPECT_EQ("2", d->ui.LBL_FoundNumVal->text());
    EXPECT_EQ(names, column(d, 2));
    // The first query failed on the lost link; the search opened the source again.
    ASSERT_EQ(2u, sent("DbSqlExec").size());
    EXPECT_EQ(0u, sent("DbSqlExec")[0].rfind("DbSqlExec " + first, 0));
    ASSERT_EQ(1u, sent("DbOpen").size());
    EXPECT_NE(first, d->DbName);

    // A server that stays down: the search ends quickly with an empty list, and the choice
    // goes back to the placeholder; once the server is back, choosing it again works.
    ASSERT_TRUE(cluster.halt());
    const auto t0 = std::chrono::steady_clock::now();
    search(d, "180.0634", "5", 1);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 3);
    EXPECT_EQ("0", d->ui.LBL_FoundNumVal->text());
    EXPECT_EQ(0, d->ui.LV_Results->topLevelItemCount());
    EXPECT_EQ(0, d->ui.CB_Database->currentIndex());
    ASSERT_TRUE(cluster.resume());
    open("Lab server");
    search(d, "180.0634", "5", 1);
    EXPECT_EQ("2", d->ui.LBL_FoundNumVal->text());
}

} // namespace
