// The search settings: the key table's range rules, loading them into the
// dialog, writing them at Free, the Default button.
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <sstream>

#include "profile.h"
#include "search_fixture.h"
#include "settings.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Settings : SearchFixture {
    void writeIni(const std::string& body) { std::ofstream(iniPath(), std::ios::binary) << body; }
    std::string stored(const char* key) {
        return twprofile::readString(iniPath(), "Quorvel", key, "<missing>");
    }
    // The value ReadIniKey gives for key holding value.
    std::string readAs(int32_t index, const std::string& value) {
        twprofile::writeString(iniPath(), "Quorvel", IniKeys[index].Key, value);
        return ReadIniKey(index, 0);
    }
};

TEST_F(Settings, TheKeyTable) {
    const char* names[] = {"DATABASE", "MASS", "MASSMODE", "MAXRESULTS", "PPM"};
    for (int i = 0; i < IniKeyCount; ++i)
        EXPECT_STREQ(names[i], IniKeys[i].Key);
    EXPECT_EQ(nullptr, IniKeys[IniKeyCount].Key);
    EXPECT_EQ(nullptr, IniKeys[IniKeyCount].Default);
}

TEST_F(Settings, RangeRulesGiveTheDefaultOutsideTheRange) {
    Init(&host.info);
    initialised = true;
    struct Case {
        int32_t index;
        const char* value;
        const char* expected;
    } cases[] = {
        {INI_MASSMODE, "3", "1"},
        {INI_MASSMODE, "-1", "1"},
        {INI_MASSMODE, "2", "2"},
        {INI_MASSMODE, "0", "0"},
        {INI_MAXRESULTS, "0", "200"},
        {INI_MAXRESULTS, "100000", "100000"},
        {INI_MAXRESULTS, "abc", "200"},
        {INI_MAXRESULTS, "99999999999", "200"},
        {INI_MASS, "0.5", ""},
        {INI_MASS, "301.5", "301.5"},
        {INI_MASS, "abc", ""},
        {INI_MASS, "1", "1"},
        {INI_PPM, "-1", "2"},
        {INI_PPM, "0", "0"},
        {INI_PPM, "abc", "abc"},
        {INI_PPM, "0.25", "0.25"},
        {INI_DATABASE, "My Db", "My Db"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, readAs(c.index, c.value)) << IniKeys[c.index].Key << "=" << c.value;
    // Missing keys give the defaults.
    std::remove(iniPath().c_str());
    EXPECT_STREQ("None", ReadIniKey(INI_DATABASE, 0));
    EXPECT_STREQ("", ReadIniKey(INI_MASS, 0));
    EXPECT_STREQ("200", ReadIniKey(INI_MAXRESULTS, 0));
    EXPECT_STREQ("", ReadIniKey(-1, 0));
    EXPECT_STREQ("", ReadIniKey(IniKeyCount, 0));
}

TEST_F(Settings, RealsShowTheUsersSeparatorAndLongValuesAreCut) {
    Init(&host.info);
    initialised = true;
    FormatSettings.DecimalSeparator = ',';
    EXPECT_EQ("301,5", readAs(INI_MASS, "301.5"));
    EXPECT_EQ("2", readAs(INI_PPM, "-1"));
    EXPECT_STREQ("2", ReadIniKey(INI_PPM, 1));
    const std::string longName(700, 'x');
    EXPECT_EQ(std::string(511, 'x'), readAs(INI_DATABASE, longName));
    // Cut before a character of several bytes, never inside it.
    const std::string accented = std::string(510, 'x') + "\xC3\xA9" + "yz";
    EXPECT_EQ(std::string(510, 'x'), readAs(INI_DATABASE, accented));
}

TEST_F(Settings, FirstShowAppliesTheStoredValuesAndOpensTheDatabase) {
    addFile("Drugs.db");
    addFile("Other.db");
    host.answer("DbOpen", 0, "DB3");
    host.answer("DbInfo", 0, "SQLITE");
    FormatSettings.DecimalSeparator = ',';
    writeIni("[Quorvel]\nDATABASE=drugs\nMASS=301.5\nMASSMODE=2\nMAXRESULTS=50\nPPM=0.5\n");
    TDlgQvMain* d = show();
    EXPECT_EQ("301,5", d->ui.STR_Mass->text());
    EXPECT_EQ("0,5", d->ui.STR_Ppm->text());
    EXPECT_EQ("50", d->ui.STR_MaxResults->text());
    EXPECT_EQ(2, d->ui.CB_Mass->currentIndex());
    EXPECT_EQ("Drugs", d->ui.CB_Database->currentText());
    EXPECT_EQ(1u, sent("DbOpen").size());
    EXPECT_EQ("DB3", d->DbName);
    EXPECT_TRUE(d->ui.BT_Search->isEnabled());
    // Showing marks nothing: Free leaves the file as it was.
    EXPECT_EQ(0, SaveIni);
    d->close();
    Call(101);
    EXPECT_EQ(0, SaveIni);
    EXPECT_EQ(1u, sent("DbOpen").size()); // settings and database only on the first show
    const std::string before = ReadFile(iniPath());
    Free();
    initialised = false;
    EXPECT_EQ(before, ReadFile(iniPath()));
}

TEST_F(Settings, AnIonModeThatIsNoNumberTakesTheNeutralMass) {
    writeIni("[Quorvel]\nMASSMODE=abc\n");
    EXPECT_EQ(1, show()->ui.CB_Mass->currentIndex());
}

TEST_F(Settings, WritingKeepsTheRestOfTheFileByteForByte) {
    addFile("Drugs.db");
    FormatSettings.DecimalSeparator = ',';
    for (const std::string eol : {"\r\n", "\n"}) {
        SCOPED_TRACE(eol.size());
        const std::string head =
            "; host settings" + eol + "[Host]" + eol + "Language = italian" + eol + eol;
        const std::string tail = "[Other]" + eol + "Key=\"quoted value\"" + eol + "; end" + eol;
        writeIni(head + "[Quorvel]" + eol + "DATABASE=Gone" + eol + "MASS=12" + eol + tail);
        TDlgQvMain* d = show();
        EXPECT_EQ(0, d->ui.CB_Database->currentIndex()); // "Gone" is not listed
        d->ui.STR_Mass->setText("301,5");
        d->ui.STR_Ppm->setText("0,25");
        d->ui.CB_Mass->setCurrentIndex(0);
        emit d->ui.CB_Mass->activated(0);
        EXPECT_EQ(1, SaveIni);
        Free();
        initialised = false;
        const std::string after = ReadFile(iniPath());
        EXPECT_EQ(head, after.substr(0, head.size()));
        ASSERT_GE(after.size(), tail.size());
        EXPECT_EQ(tail, after.substr(after.size() - tail.size()));
        EXPECT_EQ("301.5", stored("MASS"));
        EXPECT_EQ("0.25", stored("PPM"));
        EXPECT_EQ("0", stored("MASSMODE"));
        EXPECT_EQ("200", stored("MAXRESULTS"));
        EXPECT_EQ("None", stored("DATABASE"));
        // Nothing but the settings file is left in its folder (no temporary files).
        int files = 0;
        for (const QString& f : QDir(data.path()).entryList(QDir::Files))
            files += f != "settings.ini";
        EXPECT_EQ(0, files);
    }
}

TEST_F(Settings, TheChosenDatabaseIsStoredByItsName) {
    addFile("Drugs.db");
    host.answer("DbOpen", 0, "DB1");
    TDlgQvMain* d = show();
    choose(d, entryOf(d, "Drugs"));
    Free();
    initialised = false;
    EXPECT_EQ("Drugs", stored("DATABASE"));
}

TEST_F(Settings, DefaultRestoresTheControlsAndKeepsTheDatabaseOpen) {
    addFile("Drugs.db");
    host.answer("DbOpen", 0, "DB1");
    host.answer("DbSqlExec", 0, "1;180.06;C6H12O6;Glucose;C\n");
    writeIni("[Quorvel]\nDATABASE=Drugs\nMASS=180.06\nMASSMODE=0\nMAXRESULTS=7\nPPM=9\n");
    TDlgQvMain* d = show();
    d->ui.BT_Search->click();
    ASSERT_EQ(1, d->ui.LV_Results->topLevelItemCount());
    d->ui.ME_ExData->setPlainText("180.06 100");
    d->ui.BT_Default->click();
    EXPECT_EQ(0, d->ui.LV_Results->topLevelItemCount());
    EXPECT_TRUE(d->ui.ME_ExData->toPlainText().isEmpty());
    EXPECT_FALSE(d->ui.BT_ExUpdate->isEnabled());
    EXPECT_EQ("", d->ui.STR_Mass->text());
    EXPECT_EQ("2", d->ui.STR_Ppm->text());
    EXPECT_EQ("200", d->ui.STR_MaxResults->text());
    EXPECT_EQ(1, d->ui.CB_Mass->currentIndex());
    EXPECT_EQ(0, d->ui.CB_Database->currentIndex());
    EXPECT_EQ("DB1", d->DbName);
    EXPECT_TRUE(sent("DbClose").empty());
    EXPECT_FALSE(d->ui.BT_Search->isEnabled());
    EXPECT_EQ(1, SaveIni);
    EXPECT_EQ(0, CursorState);
    // Choosing the open database again sends nothing, and Search follows.
    d->ui.STR_Mass->setText("180.06");
    const size_t before = host.commands.size();
    choose(d, entryOf(d, "Drugs"));
    EXPECT_EQ(before, host.commands.size());
    EXPECT_TRUE(d->ui.BT_Search->isEnabled());
}

} // namespace
