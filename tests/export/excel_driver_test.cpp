// The spreadsheet driver: sheet names, numbers, the saved workbook read back
// by another reader, and its failures.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <stdexcept>

#include "excel8driver.h"
#include "export_results.h"
#include "export_test_util.h"

namespace {

// Records the workbook View would open instead of starting a program.
struct ViewRecorder {
    std::vector<QString> opened;
    bool result = true;
    std::function<bool(const QString&)> saved = TExcel8Driver::ViewHook;
    ViewRecorder() {
        TExcel8Driver::ViewHook = [this](const QString& p) {
            opened.push_back(p);
            return result;
        };
    }
    ~ViewRecorder() { TExcel8Driver::ViewHook = saved; }
};

struct EnvGuard {
    QByteArray name, old;
    bool had;
    EnvGuard(const char* n, const QByteArray& value)
        : name(n), old(qgetenv(n)), had(qEnvironmentVariableIsSet(n)) {
        qputenv(n, value);
    }
    ~EnvGuard() {
        if (had)
            qputenv(name.constData(), old);
        else
            qunsetenv(name.constData());
    }
};

double Parse(const std::string& text, char sep) {
    std::string t = text;
    for (char& c : t)
        if (c == sep) c = '.';
    double v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

} // namespace

TEST(ExcelDriver, SheetNamesTheWorkbookAccepts) {
    EXPECT_EQ("Mass 300.133725 \xC2\xB1 5.000 ppm",
              TExcel8Driver::ValidSheetName("Mass 300.133725 \xC2\xB1 5.000 ppm"));
    EXPECT_EQ("a_b_c_d_e_f_g_h", TExcel8Driver::ValidSheetName("a[b]c:d*e?f/g\\h"));
    EXPECT_EQ("Sheet1", TExcel8Driver::ValidSheetName(""));
    EXPECT_EQ("_quoted_", TExcel8Driver::ValidSheetName("'quoted'"));
    EXPECT_EQ("it's", TExcel8Driver::ValidSheetName("it's"));
    EXPECT_EQ("history_", TExcel8Driver::ValidSheetName("history"));
    EXPECT_EQ("tab_here", TExcel8Driver::ValidSheetName("tab\there"));
    // 31 characters, counted as characters, not bytes.
    const std::string longName = "Mass 123456.789012 \xC2\xB1 1000.000 ppm";
    const std::string cut = TExcel8Driver::ValidSheetName(longName);
    EXPECT_EQ(31, QString::fromUtf8(cut.c_str()).size());
    EXPECT_EQ(0u, longName.rfind(cut, 0));
    std::string many;
    for (int i = 0; i < 40; ++i)
        many += "\xC3\xA4";
    EXPECT_EQ(many.substr(0, 62), TExcel8Driver::ValidSheetName(many));
    // An astral character is never split at the cut.
    std::string astral(30, 'x');
    astral += "\xF0\x9F\x98\x80yz";
    EXPECT_EQ(std::string(30, 'x'), TExcel8Driver::ValidSheetName(astral));
}

TEST(ExcelDriver, PlainDecimalsOnly) {
    double v = 0;
    int d = -1;
    ASSERT_TRUE(TExcel8Driver::ParseDecimal("180.063388", '.', v, d));
    EXPECT_DOUBLE_EQ(180.063388, v);
    EXPECT_EQ(6, d);
    ASSERT_TRUE(TExcel8Driver::ParseDecimal("180,060000", ',', v, d));
    EXPECT_DOUBLE_EQ(180.06, v);
    EXPECT_EQ(6, d);
    ASSERT_TRUE(TExcel8Driver::ParseDecimal("-0", '.', v, d));
    ASSERT_TRUE(TExcel8Driver::ParseDecimal("42", ',', v, d));
    EXPECT_EQ(0, d);
    for (const char* text : {"", "-", "1.", ".5", "007", "1e5", "1,000.5", "180.06", "C6H12O6",
                             " 1", "1 ", "+1", "12:30"})
        EXPECT_FALSE(TExcel8Driver::ParseDecimal(text, ',', v, d)) << text;
}

TEST(ExcelDriver, WorkbookReadsBackCellForCell) {
    for (const char sep : {'.', ','}) {
        SepGuard guard(sep);
        ViewRecorder view;
        const std::string s(1, sep);
        const TResultsTable t{{"Mass", "Formula", "Name"},
                              {{"42" + s + "010565", "C2H2O", "Ketene"},
                               {"134" + s + "021523", "C4H6O5", "\xC3\x84pfels\xC3\xA4ure"},
                               {"180" + s + "063388", "C6H12O6", "\xCE\xB2-D-Glucose"},
                               {"180" + s + "060000", "C6H12O6", "say \"007\""},
                               {"n/a", "H2O", "007"}}};
        QString file;
        {
            TExcel8Driver driver;
            ResultsToWorkbook(driver, ResSheetName(300.133725, 5.0), t);
            file = driver.FileName();
        }
        ASSERT_EQ(1u, view.opened.size());
        EXPECT_EQ(file, view.opened[0]);
        // The folder outlives the driver; its name marks it as ours.
        ASSERT_TRUE(QFileInfo::exists(file)) << file.toStdString();
        EXPECT_TRUE(QFileInfo(file).absolutePath().section('/', -1).startsWith("quorvel-"));
        EXPECT_TRUE(file.endsWith(".xlsx"));

        const QJsonObject book = ReadWorkbook(file);
        const QString sheet = QString::fromUtf8(ResSheetName(300.133725, 5.0).c_str());
        EXPECT_EQ(QJsonArray{sheet}, book["sheets"].toArray());
        const QJsonArray rows = book["rows"].toArray();
        ASSERT_EQ(int(t.Rows.size()) + 1, rows.size());
        for (int c = 0; c < 3; ++c) {
            const QJsonObject cell = WorkbookCell(book, 0, c);
            EXPECT_EQ(QString::fromStdString(t.Captions[c]), cell["v"].toString());
            EXPECT_TRUE(cell["bold"].toBool());
        }
        for (int r = 0; r < int(t.Rows.size()); ++r) {
            const auto& row = t.Rows[r];
            const QJsonObject mass = WorkbookCell(book, r + 1, 0);
            EXPECT_FALSE(mass["bold"].toBool());
            if (row[0] == "n/a") {
                EXPECT_EQ("n/a", mass["v"].toString());
            } else {
                // A number, shown with the decimals of the list.
                ASSERT_TRUE(mass["v"].isDouble()) << r;
                EXPECT_NEAR(Parse(row[0], sep), mass["v"].toDouble(), 1e-9) << r;
                EXPECT_EQ("0.000000", mass["fmt"].toString());
            }
            for (int c = 1; c < 3; ++c)
                EXPECT_EQ(QString::fromUtf8(row[c].c_str()),
                          WorkbookCell(book, r + 1, c)["v"].toString())
                    << r << "," << c;
        }
    }
}

TEST(ExcelDriver, FailuresThrow) {
    ViewRecorder view;
    {
        TExcel8Driver driver; // nothing before Create
        EXPECT_THROW(driver.SetSheetName("x"), std::runtime_error);
        EXPECT_THROW(driver.SetCellText(1, 1, 0, "x"), std::runtime_error);
        EXPECT_THROW(driver.View(), std::runtime_error);
    }
    {
        TExcel8Driver driver;
        driver.Create();
        EXPECT_THROW(driver.SetCellText(0, 1, 0, "x"), std::runtime_error);
        EXPECT_THROW(driver.SetCellText(1, 0, 0, "x"), std::runtime_error);
        EXPECT_THROW(driver.SetCellText(1048577, 1, 0, "x"), std::runtime_error);
        EXPECT_THROW(driver.SetCellText(1, 16385, 0, "x"), std::runtime_error);
        // The sheet's limit of a cell's text.
        driver.SetCellText(1, 1, 0, std::string(40000, 'a').c_str());
        EXPECT_THROW(driver.View(), std::runtime_error);
    }
    {
        TExcel8Driver driver; // the program does not open the workbook
        driver.Create();
        driver.SetCellText(1, 1, 1, "Mass");
        view.result = false;
        // It throws, and says which file it saved.
        try {
            driver.View();
            ADD_FAILURE() << "no exception";
        } catch (const EExcelNotOpened& e) {
            EXPECT_EQ(driver.FileName(), e.FileName());
        }
        EXPECT_TRUE(QFileInfo::exists(driver.FileName()));
        view.result = true;
    }
    {
        // No temporary folder can be made.
        EnvGuard tmp("TMPDIR", "/proc/no-such-folder");
        TExcel8Driver driver;
        EXPECT_THROW(driver.Create(), std::runtime_error);
        EXPECT_THROW(driver.View(), std::runtime_error);
    }
    {
        // The folder vanishes before the workbook is saved.
        QTemporaryDir base;
        ASSERT_TRUE(base.isValid());
        EnvGuard tmp("TMPDIR", QFile::encodeName(base.path()));
        TExcel8Driver driver;
        driver.Create();
        driver.SetCellText(1, 1, 0, "x");
        ASSERT_TRUE(QDir(base.path()).removeRecursively());
        EXPECT_THROW(driver.View(), std::runtime_error);
    }
    EXPECT_EQ(1u, view.opened.size()); // only the workbook whose opening failed
}

namespace {

namespace fs = std::filesystem;

// A folder as the driver leaves one: a process note (none when empty), the
// files named, all last written `age` ago.
fs::path MakeFolder(const QTemporaryDir& base, const std::string& name, const std::string& note,
                    std::vector<std::string> files, std::chrono::hours age) {
    const fs::path dir = fs::path(base.path().toStdString()) / name;
    fs::create_directory(dir);
    if (!note.empty()) files.push_back(".quorvel-owner");
    for (const std::string& f : files) {
        std::ofstream(dir / f) << (f == ".quorvel-owner" ? note : std::string("PK"));
        fs::last_write_time(dir / f, fs::file_time_type::clock::now() - age);
    }
    return dir;
}

} // namespace

TEST(ExcelDriver, FoldersOfEndedProcessesAreRemovedAndNoOtherFolder) {
    ViewRecorder view;
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    EnvGuard tmp("TMPDIR", QFile::encodeName(base.path()));
    using std::chrono::hours;
    const std::string gone = "999999999 1\n"; // beyond any process id
    const std::string reused = std::to_string(getpid()) + " 1\n"; // this id, another start
    const std::string mine = TExcel8Driver::ProcessNote();
    const fs::path ended = MakeFolder(base, "quorvel-Ab12Cd", gone, {"Mass 180.xlsx"}, hours(2));
    const fs::path idReused = MakeFolder(base, "quorvel-zz99YY", reused, {"Mass.xlsx"}, hours(30));
    const std::vector<fs::path> kept = {
        MakeFolder(base, "quorvel-Run111", mine, {"Mass.xlsx"}, hours(2)),       // running
        MakeFolder(base, "quorvel-New222", gone, {"Mass.xlsx"}, hours(0)),       // just written
        MakeFolder(base, "quorvel-Lck333", gone, {"Mass.xlsx", ".~lock.Mass.xlsx#"}, hours(2)),
        MakeFolder(base, "quorvel-Lck444", gone, {"Mass.xlsx", "~$Mass.xlsx"}, hours(2)),
        MakeFolder(base, "quorvel-Old555", "", {"Mass.xlsx"}, hours(48)),       // no note
        MakeFolder(base, "quorvel-Odd666", "hello\n", {"Mass.xlsx"}, hours(48)), // not our note
        MakeFolder(base, "quorvel-Long777", gone, {"Mass.xlsx"}, hours(2)),     // not our name
        MakeFolder(base, "notours-Ab12Cd", gone, {"Mass.xlsx"}, hours(2)),
    };
    const fs::path nested = MakeFolder(base, "quorvel-Sub888", gone, {"Mass.xlsx"}, hours(2));
    fs::create_directory(nested / "inner");
    const fs::path target = MakeFolder(base, "elsewhere", gone, {"keep.xlsx"}, hours(2));
    fs::create_directory_symlink(target, fs::path(base.path().toStdString()) / "quorvel-Lnk999");

    TExcel8Driver first;
    first.Create();
    EXPECT_FALSE(fs::exists(ended));
    EXPECT_FALSE(fs::exists(idReused));
    for (const fs::path& k : kept) EXPECT_TRUE(fs::exists(k / "Mass.xlsx")) << k;
    EXPECT_TRUE(fs::exists(nested / "Mass.xlsx"));
    EXPECT_TRUE(fs::exists(target / "keep.xlsx"));
    EXPECT_TRUE(fs::is_symlink(fs::path(base.path().toStdString()) / "quorvel-Lnk999"));

    // The workbook nothing opened stays where the message says, through later tries.
    first.SetCellText(1, 1, 1, "Mass");
    view.result = false;
    EXPECT_THROW(first.View(), EExcelNotOpened);
    view.result = true;
    ASSERT_TRUE(QFileInfo::exists(first.FileName()));
    fs::last_write_time(QFile::encodeName(first.FileName()).toStdString(),
                        fs::file_time_type::clock::now() - hours(5));
    TExcel8Driver second;
    second.Create();
    EXPECT_TRUE(QFileInfo::exists(first.FileName())) << "the folder of a running process was removed";
    EXPECT_EQ(0, TExcel8Driver::RemoveOldFolders(base.path()));
    // Its note names this process, and the note of an ended one is recognised.
    std::ifstream note(fs::path(QFile::encodeName(QFileInfo(first.FileName()).path()).toStdString()) /
                       ".quorvel-owner");
    std::string line;
    std::getline(note, line);
    EXPECT_EQ(mine, line + "\n");
    MakeFolder(base, "quorvel-Ab12Cd", gone, {"Mass.xlsx"}, hours(2));
    EXPECT_EQ(1, TExcel8Driver::RemoveOldFolders(base.path()));
}
