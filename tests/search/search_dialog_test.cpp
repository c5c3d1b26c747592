// The database choice, the search and its answer, driven through the test
// host with scripted answers: the commands the plug-in sends and what the
// dialog shows.
#include <QAction>
#include <QTest>

#include "render2d.h"
#include "search_fixture.h"

namespace {

const char* const Glucose = "OCC1OC(O)C(O)C(O)C1O";

struct SearchDialog : SearchFixture {
    // A data directory with one database and a host that opens it as DB7.
    TDlgQvMain* openDrugs(const std::string& format = "SQLITE") {
        addFile("Drugs.db");
        host.answer("DbOpen", 0, "DB7");
        host.answer("DbInfo", 0, format);
        TDlgQvMain* d = show();
        choose(d, entryOf(d, "Drugs"));
        EXPECT_EQ("DB7", d->DbName);
        return d;
    }
};

TEST_F(SearchDialog, ListsDatabaseFilesOnlyWithTheirExtensionTags) {
    addFile("Drugs.MDB");
    addFile("a.b.db");
    addFile("notes.txt");
    addFile("README");
    QDir(data.path()).mkpath("Databases/old.mdb");
    TDlgQvMain* d = show();
    QComboBox* cb = d->ui.CB_Database;
    ASSERT_EQ(3, cb->count());
    EXPECT_EQ("Choose the database", cb->itemText(0));
    EXPECT_EQ("a.b", cb->itemText(1));
    EXPECT_EQ(2, cb->itemData(1).toInt());
    EXPECT_EQ("Drugs", cb->itemText(2));
    EXPECT_EQ(0, cb->itemData(2).toInt());
    EXPECT_EQ(0, cb->currentIndex());
    EXPECT_TRUE(sent("DbOpen").empty());
    // The file keeps its own spelling: the file system tells case apart.
    EXPECT_EQ("Drugs.MDB", d->DbEntryFile(2));
}

TEST_F(SearchDialog, ChoosingOpensClosesAndAsksTheFormatOnce) {
    addFile("a.b.db");
    TDlgQvMain* d = openDrugs();
    const std::string dir = dataDir();
    EXPECT_EQ(std::vector<std::string>{"DbOpen \"" + dir + "Databases\\Drugs.db\""},
              sent("DbOpen"));
    EXPECT_EQ(std::vector<std::string>{"DbInfo DB7 Format"}, sent("DbInfo"));
    EXPECT_EQ("Drugs.db", d->DbFile);
    EXPECT_EQ(1, SaveIni);

    // The same entry again: nothing is sent.
    const size_t before = host.commands.size();
    choose(d, entryOf(d, "Drugs"));
    EXPECT_EQ(before, host.commands.size());

    // Another one closes the first.
    choose(d, entryOf(d, "a.b"));
    EXPECT_EQ(std::vector<std::string>{"DbClose DB7"}, sent("DbClose"));
    EXPECT_EQ(2u, sent("DbOpen").size());
    // The placeholder closes and opens nothing.
    choose(d, 0);
    EXPECT_EQ(2u, sent("DbClose").size());
    EXPECT_EQ(2u, sent("DbOpen").size());
    EXPECT_TRUE(d->DbName.empty());
    EXPECT_FALSE(d->ui.BT_Search->isEnabled());
}

TEST_F(SearchDialog, AFailedOpenGoesBackToThePlaceholderAndMayBeRetried) {
    addFile("Drugs.db");
    host.answer("DbOpen", 22, "Not a database");
    TDlgQvMain* d = show();
    d->ui.STR_Mass->setText("180");
    choose(d, entryOf(d, "Drugs"));
    EXPECT_EQ(0, d->ui.CB_Database->currentIndex());
    EXPECT_TRUE(d->DbName.empty());
    EXPECT_FALSE(d->ui.BT_Search->isEnabled());
    EXPECT_TRUE(sent("DbInfo").empty());
    EXPECT_TRUE(sent("messagebox").empty());
    // Choosing it again tries again.
    choose(d, entryOf(d, "Drugs"));
    EXPECT_EQ(2u, sent("DbOpen").size());
}

TEST_F(SearchDialog, AnOpenWithoutHandleCountsAsFailed) {
    addFile("Drugs.db");
    host.answer("DbOpen", 0, " \n");
    TDlgQvMain* d = show();
    choose(d, entryOf(d, "Drugs"));
    EXPECT_EQ(0, d->ui.CB_Database->currentIndex());
    EXPECT_TRUE(d->DbName.empty());
}

TEST_F(SearchDialog, SearchIsEnabledOnlyWithDatabaseAndPositiveNumbers) {
    TDlgQvMain* d = openDrugs();
    auto enabledWith = [&](const char* mass, const char* ppm, const char* max) {
        d->ui.STR_Mass->setText(mass);
        d->ui.STR_Ppm->setText(ppm);
        d->ui.STR_MaxResults->setText(max);
        return d->ui.BT_Search->isEnabled();
    };
    EXPECT_TRUE(enabledWith("180.06", "5", "200"));
    EXPECT_FALSE(enabledWith("0", "5", "200"));
    EXPECT_FALSE(enabledWith("180.06", "0", "200"));
    EXPECT_FALSE(enabledWith("180.06", "5", "0"));
    EXPECT_FALSE(enabledWith("", "5", "200"));
    EXPECT_FALSE(enabledWith("180,06", "5", "200")); // not this user's separator
    FormatSettings.DecimalSeparator = ',';
    EXPECT_TRUE(enabledWith("180,06", "0,5", "200"));
    // The placeholder selected while the database is still open.
    EXPECT_TRUE(enabledWith("180,06", "5", "200"));
    d->ui.CB_Database->setCurrentIndex(0);
    d->EnableButtons();
    EXPECT_FALSE(d->ui.BT_Search->isEnabled());
}

TEST_F(SearchDialog, ReturnInASearchFieldSearchesWhenSearchIsEnabled) {
    TDlgQvMain* d = openDrugs();
    host.answer("DbSqlExec", 0, "7;180.063388;C6H12O6;Glucose;C\n");
    FormatSettings.DecimalSeparator = '.';
    d->ui.STR_Mass->clear();
    ASSERT_FALSE(d->ui.BT_Search->isEnabled());
    QTest::keyClick(d->ui.STR_Mass, Qt::Key_Return);
    EXPECT_TRUE(sent("DbSqlExec").empty()) << "searched without a mass";
    d->ui.STR_Mass->setText("180.0634");
    ASSERT_TRUE(d->ui.BT_Search->isEnabled());
    size_t searches = 0;
    for (QLineEdit* f : {d->ui.STR_Mass, d->ui.STR_Ppm, d->ui.STR_MaxResults}) {
        d->ui.LV_Results->clear();
        f->setFocus();
        QTest::keyClick(f, Qt::Key_Return);
        EXPECT_EQ(++searches, sent("DbSqlExec").size()) << f->objectName().toStdString();
        EXPECT_EQ(1, d->ui.LV_Results->topLevelItemCount());
    }
    QTest::keyClick(d->ui.STR_Ppm, Qt::Key_Enter); // the keypad's Enter too
    EXPECT_EQ(++searches, sent("DbSqlExec").size());
    EXPECT_TRUE(d->isVisible()) << "Return closed the dialog";
}

TEST_F(SearchDialog, TheWindowIsQueriedWithMachineNumbersInTheLimitForm) {
    TDlgQvMain* d = openDrugs();
    host.answer("DbSqlExec", 0, "");
    search(d, "301.141", "5", 0);
    const std::string expected =
        "DbSqlExec DB7 \"SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI > "
        "300.132219) AND (MassMI < 300.135231) ORDER BY MassMI ASC LIMIT 200;\"";
    ASSERT_EQ(1u, sent("DbSqlExec").size());
    EXPECT_EQ(expected, sent("DbSqlExec")[0]);
    EXPECT_NEAR(300.133725, d->SearchMass, 1e-9);
    EXPECT_DOUBLE_EQ(5, d->SearchPpm);

    // The same under a comma: typed with it, the process locale using it too.
    FormatSettings.DecimalSeparator = ',';
    ASSERT_NE(nullptr, std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) << "locale de_DE.UTF-8 missing";
    search(d, "301,141", "5", 0);
    ASSERT_EQ(2u, sent("DbSqlExec").size());
    EXPECT_EQ(expected, sent("DbSqlExec")[1]);

    // [M-H]-: the mass moves up by a proton, the tolerance stays.
    search(d, "301,141", "5", 2, "10");
    EXPECT_EQ("DbSqlExec DB7 \"SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE "
              "(MassMI > 302.146769) AND (MassMI < 302.149781) ORDER BY MassMI ASC LIMIT 10;\"",
              sent("DbSqlExec")[2]);
    EXPECT_NEAR(302.148275, d->SearchMass, 1e-9);
}

TEST_F(SearchDialog, OnlyAnAccessReportSelectsTheTopForm) {
    const std::string top = "DbSqlExec DB7 \"SELECT * FROM (SELECT TOP 200 ID, MassMI, Formula, "
                            "Name, Smiles FROM Molecules WHERE (MassMI > 301.139494) AND (MassMI < "
                            "301.142506) ORDER BY Name) ORDER BY MassMI;\"";
    struct Case {
        int code;
        const char* report;
        bool topForm;
    };
    for (const Case& c : {Case{0, "access", true}, Case{0, "ACCESS2000", false}, Case{0, "", false},
                          Case{26, "ACCESS", false}}) {
        SCOPED_TRACE(c.report);
        host.clearAnswers();
        host.answer("Get DataDir", 0, dataDir());
        host.answer("DbOpen", 0, "DB7");
        host.answer("DbInfo", c.code, c.report);
        host.answer("DbSqlExec", 0, "");
        addFile("Drugs.db");
        TDlgQvMain* d = show();
        d->DbFile.clear(); // choose afresh
        d->DbName.clear();
        choose(d, entryOf(d, "Drugs"));
        EXPECT_EQ(c.topForm ? 1 : 0, d->DbFormat);
        search(d, "301.141", "5", 1);
        ASSERT_FALSE(sent("DbSqlExec").empty());
        EXPECT_EQ(c.topForm, sent("DbSqlExec").back() == top) << sent("DbSqlExec").back();
    }
}

TEST_F(SearchDialog, TheAnswerFillsTheListAndTheHiddenData) {
    TDlgQvMain* d = openDrugs();
    FormatSettings.DecimalSeparator = ',';
    host.answer("DbSqlExec", 0,
                "7;180.063388; C6H12O6;Glucose;" + std::string(Glucose) +
                    "\n12;180.0633881;C6H12O6 ;\"Fructose\" (keto);OCC(=O)C(O)C(O)C(O)CO\n"
                    "31;180.0634;C6H12O6;\xCE\xB2-D-Galactose \xE2\x80\x94 caf\xC3\xA9;C\n");
    search(d, "180,0634", "5", 1);
    ASSERT_EQ(3, d->ui.LV_Results->topLevelItemCount());
    EXPECT_EQ(QStringList({"180,063388", "180,0633881", "180,0634"}), column(d, 0));
    EXPECT_EQ(QStringList({"C6H12O6", "C6H12O6 ", "C6H12O6"}), column(d, 1));
    EXPECT_EQ(QStringList({"Glucose", "\"Fructose\" (keto)",
                           QString::fromUtf8("\xCE\xB2-D-Galactose \xE2\x80\x94 caf\xC3\xA9")}),
              column(d, 2));
    EXPECT_EQ("3", d->ui.LBL_FoundNumVal->text());
    ASSERT_EQ(3, d->RowCount);
    EXPECT_EQ(7, d->RowIds[0]);
    EXPECT_EQ(12, d->RowIds[1]);
    EXPECT_EQ(31, d->RowIds[2]);
    EXPECT_EQ(Glucose, (*d->RowSmiles)[0]);
    // Nothing selected yet: the commands wait for a row, the logo shows.
    EXPECT_FALSE(d->PM_ResShow->isEnabled());
    EXPECT_FALSE(d->ui.IMG_Logo->isHidden());
}

TEST_F(SearchDialog, AnswersOfAnotherShapeNeverShiftOrOverrun) {
    TDlgQvMain* d = openDrugs();
    // A short row, a name holding ";", no final line feed.
    host.answer("DbSqlExec", 0,
                "1;46.04;C2H6O\n5;58.44;ClNa;sodium; salt;[Na+].[Cl-]\n9;18.01;H2O;Water;O");
    search(d, "50", "1000000", 1);
    ASSERT_EQ(3, d->RowCount);
    EXPECT_EQ(QStringList({"", "sodium; salt", "Water"}), column(d, 2));
    EXPECT_EQ(9, d->RowIds[2]);
    EXPECT_EQ("O", (*d->RowSmiles)[2]);
    EXPECT_EQ("3", d->ui.LBL_FoundNumVal->text());
}

TEST_F(SearchDialog, ALimitOfOneHundredThousandHoldsEvenAgainstALargerAnswer) {
    TDlgQvMain* d = openDrugs();
    std::string answer;
    answer.reserve(100005 * 40);
    for (int i = 1; i <= 100005; ++i)
        answer += std::to_string(i) + ";100." + std::to_string(i) + ";C8H4;n" + std::to_string(i) +
                  ";C\n";
    host.answer("DbSqlExec", 0, answer);
    search(d, "100", "10000", 1, "100000");
    ASSERT_TRUE(sent("DbSqlExec").back().find("LIMIT 100000;") != std::string::npos);
    EXPECT_EQ(100000, d->ui.LV_Results->topLevelItemCount());
    EXPECT_EQ("100000", d->ui.LBL_FoundNumVal->text());
    EXPECT_EQ(100000, d->RowIds[99999]);
}

TEST_F(SearchDialog, AFailingQueryReopensOnceAndRetriesOnce) {
    addFile("Drugs.db");
    int opens = 0, queries = 0;
    host.fallback = [&](const std::string& c) -> CommandResult {
        if (c.rfind("DbOpen", 0) == 0) return {0, "DB" + std::to_string(++opens)};
        if (c.rfind("DbSqlExec", 0) == 0) {
            ++queries;
            if (c.rfind("DbSqlExec DB1 ", 0) == 0) return {26, "No open database DB1"};
            return {0, "4;180.06;C6H12O6;Glucose;C\n"};
        }
        return {0, ""};
    };
    TDlgQvMain* d = show();
    choose(d, entryOf(d, "Drugs"));
    search(d, "180.06", "5", 1);
    EXPECT_EQ(2, queries);
    EXPECT_EQ(2, opens);
    EXPECT_EQ("DB2", d->DbName);
    EXPECT_EQ(std::vector<std::string>{"DbClose DB1"}, sent("DbClose"));
    EXPECT_EQ(1u, sent("DbInfo").size()); // the format is not asked again
    EXPECT_EQ(1, d->ui.LV_Results->topLevelItemCount());
}

TEST_F(SearchDialog, AFailingRetryLeavesAnEmptyListQuietly) {
    TDlgQvMain* d = openDrugs();
    host.answer("DbSqlExec", 27, "SQL error");
    search(d, "180.06", "5", 1);
    EXPECT_EQ(2u, sent("DbSqlExec").size());
    EXPECT_EQ(0, d->ui.LV_Results->topLevelItemCount());
    EXPECT_EQ("0", d->ui.LBL_FoundNumVal->text());
    EXPECT_TRUE(sent("messagebox").empty());
    EXPECT_EQ(0, CursorState);
}

TEST_F(SearchDialog, AVanishedDatabaseEndsTheSearchOnThePlaceholder) {
    TDlgQvMain* d = openDrugs();
    host.answer("DbSqlExec", 0, "1;1;C;a;C\n");
    search(d, "180.06", "5", 1);
    ASSERT_EQ(1, d->ui.LV_Results->topLevelItemCount());
    host.clearAnswers();
    host.answer("Get DataDir", 0, dataDir());
    host.answer("DbSqlExec", 26, "No open database DB7");
    host.answer("DbOpen", 21, "Database file not found");
    d->ui.BT_Search->click();
    EXPECT_EQ(0, d->ui.LV_Results->topLevelItemCount());
    EXPECT_EQ("0", d->ui.LBL_FoundNumVal->text());
    EXPECT_EQ(0, d->ui.CB_Database->currentIndex());
    EXPECT_TRUE(d->DbName.empty());
    EXPECT_FALSE(d->ui.BT_Search->isEnabled());
    EXPECT_TRUE(sent("messagebox").empty());
    EXPECT_EQ(0, CursorState);
}

TEST_F(SearchDialog, AnEmptyAnswerOrUnreadableNumbersLeaveTheListEmpty) {
    TDlgQvMain* d = openDrugs();
    host.answer("DbSqlExec", 0, "1;1;C;a;C\n");
    search(d, "180.06", "5", 1);
    ASSERT_EQ(1, d->ui.LV_Results->topLevelItemCount());
    host.clearAnswers();
    host.answer("DbSqlExec", 0, "");
    d->ui.BT_Search->click();
    EXPECT_EQ(0, d->ui.LV_Results->topLevelItemCount());
    EXPECT_EQ("0", d->ui.LBL_FoundNumVal->text());
    // A mass that does not convert ends the click before anything is sent.
    const size_t before = sent("DbSqlExec").size();
    d->ui.STR_Mass->setText("1e");
    d->BT_SearchClick();
    EXPECT_EQ(before, sent("DbSqlExec").size());
}

} // namespace
