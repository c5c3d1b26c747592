// The search on the metabolite demo database (scripts/build-demo-dbs.sh),
// through the host's real interpreter: the hexoses around 180.0634 Da.
// The data directory is TW_DEMO_DATA_DIR, else the host's default
// ${XDG_DATA_HOME:-$HOME/.local/share}/tarvish/.
#include <set>
#include <sqlite3.h>

#include "search_fixture.h"

namespace {

std::string DemoDataDir() {
    if (const char* d = std::getenv("TW_DEMO_DATA_DIR")) return std::string(d) + "/";
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = xdg && *xdg ? xdg : std::string(home ? home : "") + "/.local/share";
    return base + "/tarvish/";
}

// The IDs whose stored mass lies strictly inside mass ± tol, read straight
// from the file.
std::set<int> IdsInWindow(const std::string& path, double mass, double tol) {
    std::set<int> ids;
    sqlite3* h = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(h, "SELECT ID FROM Molecules WHERE MassMI > ? AND MassMI < ?", -1, &st,
                           nullptr) == SQLITE_OK) {
        sqlite3_bind_double(st, 1, mass - tol);
        sqlite3_bind_double(st, 2, mass + tol);
        while (sqlite3_step(st) == SQLITE_ROW)
            ids.insert(sqlite3_column_int(st, 0));
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return ids;
}

struct DemoData : SearchFixture {};

TEST_F(DemoData, HexosesByNeutralMassAndByProtonatedIon) {
    const std::string dir = DemoDataDir();
    const std::string db = dir + "Databases/Metabolites.db";
    ASSERT_TRUE(std::ifstream(db).good())
        << db << " is missing: build it with scripts/build-demo-dbs.sh (or set TW_DEMO_DATA_DIR)";
    host.clearAnswers();
    host.useRealInterpreter("english", dir);
    TDlgQvMain* d = show();
    choose(d, entryOf(d, "Metabolites"));
    ASSERT_FALSE(d->DbName.empty());

    auto found = [&] {
        std::set<int> ids;
        for (int k = 0; k < d->RowCount; ++k)
            ids.insert(d->RowIds[k]);
        return ids;
    };
    search(d, "180.0634", "5", 1, "1000");
    const std::set<int> neutral = found();
    EXPECT_EQ(IdsInWindow(db, 180.0634, 180.0634 / 1e6 * 5), neutral);
    const QStringList names = column(d, 2);
    for (const char* hexose : {"D-Glucose", "D-Galactose", "D-Mannose", "D-Fructose"})
        EXPECT_TRUE(names.contains(hexose)) << hexose;
    for (const QString& f : column(d, 1))
        EXPECT_EQ("C6H12O6", f);

    search(d, "181.0707", "5", 0, "1000");
    EXPECT_EQ(neutral, found());
    EXPECT_EQ(QString::number(neutral.size()), d->ui.LBL_FoundNumVal->text());
}

} // namespace
