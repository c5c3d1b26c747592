// End to end: the plug-in's search through the host's real interpreter and
// its SQLite engine, on databases the tests write.
#include <QAction>
#include <QHeaderView>
#include <set>
#include <sqlite3.h>

#include "render2d.h"
#include "search_fixture.h"

namespace {

struct DbRow {
    int id;
    const char* mass; // as stored
    const char* formula;
    const char* name;
    const char* smiles;
};

// Ascending mass, IDs unrelated to the positions.
const DbRow Rows[] = {
    {101, "46.041865", "C2H6O", "Ethanol", "CCO"},
    {205, "180.042259", "C9H8O4", "Aspirin", "CC(=O)Oc1ccccc1C(O)=O"},
    {310, "180.062", "C6H12O6", "Decoy below", "C"},
    {412, "180.0633881", "C6H12O6", "\xCE\xB2-D-Glucose", "OC[C@H]1OC(O)[C@H](O)[C@@H](O)[C@@H]1O"},
    {517, "180.0633881", "C6H12O6", "D-Fructose; keto form", "OCC(=O)[C@@H](O)[C@H](O)[C@H](O)CO"},
    {623, "180.0633881", "C6H12O6", "\"myo\"-Inositol", "OC1C(O)C(O)C(O)C(O)C1O"},
    {731, "180.0645", "C6H12O6", "Decoy above", "C"},
    {840, "181.0707", "C6H13O6", "At the ion mass", "C"},
};

void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err)) << (err ? err : "");
}

void MakeDb(const std::string& path, bool withMolecules = true) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    if (withMolecules) {
        Exec(db, "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL NOT NULL, "
                 "Formula TEXT NOT NULL, Name TEXT, Smiles TEXT NOT NULL);"
                 "CREATE INDEX Molecules_MassMI ON Molecules(MassMI);");
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "INSERT INTO Molecules VALUES(?,?,?,?,?)", -1,
                                                &st, nullptr));
        for (const DbRow& r : Rows) {
            sqlite3_bind_int(st, 1, r.id);
            sqlite3_bind_double(st, 2, std::stod(r.mass));
            sqlite3_bind_text(st, 3, r.formula, -1, SQLITE_STATIC);
            sqlite3_bind_text(st, 4, r.name, -1, SQLITE_STATIC);
            sqlite3_bind_text(st, 5, r.smiles, -1, SQLITE_STATIC);
            EXPECT_EQ(SQLITE_DONE, sqlite3_step(st));
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
    } else {
        Exec(db, "CREATE TABLE Other(x);");
    }
    sqlite3_close(db);
}

const DbRow* RowById(int id) {
    for (const DbRow& r : Rows)
        if (r.id == id) return &r;
    return nullptr;
}

struct EndToEnd : SearchFixture {
    TDlgQvMain* d = nullptr;
    void SetUp() override {
        SearchFixture::SetUp();
        MakeDb(dataDir() + "Databases/Sugars.db");
        host.clearAnswers();
        host.useRealInterpreter("english", dataDir());
        d = show();
    }
    std::set<QString> names() {
        const QStringList n = column(d, 2);
        return std::set<QString>(n.begin(), n.end());
    }
    void chooseSugars() {
        choose(d, entryOf(d, "Sugars"));
        ASSERT_EQ("DB1", d->DbName);
    }
};

const std::set<QString> Hexoses = {QString::fromUtf8("\xCE\xB2-D-Glucose"), "D-Fructose, keto form",
                                   "\"myo\"-Inositol"};

TEST_F(EndToEnd, NeutralAndProtonatedSearchesFindTheSameHexoses) {
    chooseSugars();
    EXPECT_EQ(0, d->DbFormat); // the engine reports SQLITE
    search(d, "180.0634", "5", 1);
    EXPECT_EQ(Hexoses, names());
    EXPECT_EQ("3", d->ui.LBL_FoundNumVal->text());
    EXPECT_EQ(QStringList({"180.0633881", "180.0633881", "180.0633881"}), column(d, 0));
    // Each row keeps its own ID and SMILES.
    for (int k = 0; k < d->RowCount; ++k) {
        const DbRow* r = RowById(d->RowIds[k]);
        ASSERT_NE(nullptr, r);
        EXPECT_EQ(r->smiles, (*d->RowSmiles)[static_cast<size_t>(k)]);
    }

    FormatSettings.DecimalSeparator = ',';
    ASSERT_NE(nullptr, std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) << "locale de_DE.UTF-8 missing";
    search(d, "181,0707", "5", 0);
    EXPECT_EQ(Hexoses, names());
    EXPECT_EQ(QStringList({"180,0633881", "180,0633881", "180,0633881"}), column(d, 0));
    EXPECT_EQ(0, *host.info.ResultCode);
}

TEST_F(EndToEnd, TheQueryReadsOnlyTheWindowThroughTheMassIndex) {
    chooseSugars();
    search(d, "180.0634", "5", 1);
    const std::string cmd = sent("DbSqlExec").back();
    const std::string head = "DbSqlExec DB1 \"";
    ASSERT_EQ(head, cmd.substr(0, head.size()));
    const std::string sql = cmd.substr(head.size(), cmd.size() - head.size() - 1);
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2((dataDir() + "Databases/Sugars.db").c_str(), &db,
                                         SQLITE_OPEN_READONLY, nullptr));
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(SQLITE_OK,
              sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &st, nullptr));
    std::string plan;
    while (sqlite3_step(st) == SQLITE_ROW)
        plan += reinterpret_cast<const char*>(sqlite3_column_text(st, 3)) + std::string("\n");
    sqlite3_finalize(st);
    sqlite3_close(db);
    EXPECT_NE(std::string::npos, plan.find("USING INDEX Molecules_MassMI (MassMI>? AND MassMI<?)"))
        << plan;
    EXPECT_EQ(std::string::npos, plan.find("SCAN")) << plan;
}

TEST_F(EndToEnd, TheLimitKeepsTheLightestHits) {
    chooseSugars();
    search(d, "180", "1000", 1, "2");
    EXPECT_EQ(QStringList({"Aspirin", "Decoy below"}), column(d, 2));
}

TEST_F(EndToEnd, SortedRowsPreviewAndLoadTheirOwnMolecule) {
    chooseSugars();
    search(d, "180.0634", "5", 1);
    QHeaderView* header = d->ui.LV_Results->header();
    emit header->sectionClicked(2);
    EXPECT_EQ(QStringList({"\"myo\"-Inositol", "D-Fructose, keto form",
                           QString::fromUtf8("\xCE\xB2-D-Glucose")}),
              column(d, 2));
    emit header->sectionClicked(2);
    EXPECT_EQ(QString::fromUtf8("\xCE\xB2-D-Glucose"), column(d, 2).front());
    for (int row = 0; row < 3; ++row) {
        QTreeWidgetItem* item = d->ui.LV_Results->topLevelItem(row);
        d->ui.LV_Results->setCurrentItem(item);
        const int k = d->SelectedRow();
        ASSERT_GE(k, 0);
        const DbRow* r = RowById(d->RowIds[k]);
        ASSERT_NE(nullptr, r);
        EXPECT_EQ(QString::fromUtf8(r->name).replace(';', ','), item->text(2));
        ASSERT_NE(nullptr, d->Renderer);
        EXPECT_EQ(r->smiles, d->Renderer->Text());
        d->PM_ResShow->trigger();
        const std::string load = "DbGetRowId DB1 " + std::to_string(r->id) + " Replace";
        ASSERT_EQ(load, sent("DbGetRowId").back());
    }
    // The host itself accepts the command for the row on show.
    EXPECT_EQ(3u, sent("DbGetRowId").size());
}

TEST_F(EndToEnd, ADatabaseNamedBeyondAsciiOpens) {
    const std::string name = "S\xC3\xBC\xC3\x9F \xCE\xB2 (Zucker)";
    MakeDb(dataDir() + "Databases/" + name + ".db");
    d->close();
    Call(101);
    const int entry = entryOf(d, QString::fromUtf8(name.c_str()));
    ASSERT_GT(entry, 0);
    choose(d, entry);
    ASSERT_FALSE(d->DbName.empty());
    search(d, "180.0634", "5", 1);
    EXPECT_EQ(Hexoses, names());
}

TEST_F(EndToEnd, DatabasesThatCannotBeOpenedLeaveThePlaceholder) {
    chooseSugars();
    std::ofstream(dataDir() + "Databases/Broken.db") << "this is not a database, only text\n";
    MakeDb(dataDir() + "Databases/NoTable.db", false);
    MakeDb(dataDir() + "Databases/Vanishing.db");
    d->close();
    Call(101); // the next show lists them
    ASSERT_GT(entryOf(d, "Vanishing"), 0);
    std::remove((dataDir() + "Databases/Vanishing.db").c_str());
    for (const char* name : {"Broken", "NoTable", "Vanishing"}) {
        SCOPED_TRACE(name);
        choose(d, entryOf(d, name));
        EXPECT_EQ(0, d->ui.CB_Database->currentIndex());
        EXPECT_TRUE(d->DbName.empty());
        EXPECT_FALSE(d->ui.BT_Search->isEnabled());
    }
    EXPECT_EQ(std::vector<std::string>{"DbClose DB1"}, sent("DbClose"));
    // And the good one still opens.
    choose(d, entryOf(d, "Sugars"));
    EXPECT_FALSE(d->DbName.empty());
    search(d, "180.0634", "5", 1);
    EXPECT_EQ(Hexoses, names());
}

} // namespace
