// The results popup's export commands on the main dialog, driven through the
// test host: what reaches the host's clipboard, the files, the workbook, and
// the messages of failures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>

#include "dlg_main.h"
#include "excel8driver.h"
#include "export_test_util.h"
#include "plugin_state.h"
#include "test_host.h"

extern "C" TW_PLUGINFO* Init(TW_INFO*);
extern "C" int32_t Call(int32_t);
extern "C" int32_t Free(void);

namespace {

struct ExportDialog : ::testing::Test {
    QTemporaryDir data;
    TestHost host;
    TDlgQvMain* d = nullptr;
    SepGuard sep{'.'};
    std::function<QString(TSaveDialog&, QWidget*)> savedSaveHook = TSaveDialog::Hook;
    std::function<bool(const QString&)> savedViewHook = TExcel8Driver::ViewHook;
    std::vector<QString> opened;

    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        std::snprintf(host.info.IniFile, sizeof host.info.IniFile, "%s",
                      (data.path().toStdString() + "/settings.ini").c_str());
        host.answer("Get PrfLang", 0, "english");
        host.answer("Get DataDir", 0, data.path().toStdString() + "/");
        host.answer("messagebox", 0, "1");
        TExcel8Driver::ViewHook = [this](const QString& p) {
            opened.push_back(p);
            return true;
        };
        Init(&host.info);
        Call(101);
        d = DlgQvMain;
        ASSERT_NE(nullptr, d);
    }
    void TearDown() override {
        Free();
        TSaveDialog::Hook = savedSaveHook;
        TExcel8Driver::ViewHook = savedViewHook;
    }

    // Rows as the search leaves them, the one at `selected` selected.
    void fill(const std::vector<std::vector<std::string>>& rows, int selected) {
        QTreeWidget* lv = d->ui.LV_Results;
        const QSignalBlocker block(lv);
        lv->clear();
        for (const auto& r : rows) {
            QStringList cells;
            for (const auto& c : r)
                cells << QString::fromUtf8(c.c_str());
            new QTreeWidgetItem(lv, cells);
        }
        QTreeWidgetItem* item = lv->topLevelItem(selected);
        lv->setCurrentItem(item);
        item->setSelected(true);
    }
    void glucose() { fill({{"180.063388", "C6H12O6", "Glucose"}}, 0); }
    // Chooses a file and a filter in place of the save dialog.
    void choose(const std::string& path, int filter) {
        TSaveDialog::Hook = [path, filter](TSaveDialog& dlg, QWidget*) {
            dlg.FilterIndex = filter;
            return QString::fromStdString(path);
        };
    }
    std::string file(const char* name) const {
        return data.filePath(QString::fromUtf8(name)).toStdString();
    }
    // The commands sent since `from`, in order.
    std::vector<std::string> sent(size_t from) const {
        return {host.commands.begin() + static_cast<long>(from), host.commands.end()};
    }
    std::vector<std::string> messages(size_t from) const {
        std::vector<std::string> out;
        for (const std::string& c : sent(from))
            if (c.rfind("messagebox", 0) == 0) out.push_back(c);
        return out;
    }
};

const std::vector<std::vector<std::string>> Rows = {
    {"42.010565", "C2H2O", "ketene"},
    {"180.063388", "C6H12O6", "\xCE\xB2-D-Glucose"},
    {"134.021523", "C4H6O5", "\xC3\x84pfels\xC3\xA4ure"},
    {"46.041865", "C2H6O", "Ethanol"}};

} // namespace

TEST_F(ExportDialog, CopiesRowTableAndCellThroughTheHost) {
    glucose();
    size_t from = host.commands.size();
    d->PM_ResCopyRowClick();
    EXPECT_EQ((std::vector<std::string>{"Cursor Busy", "CopyText \"180.063388 C6H12O6 Glucose\"",
                                        "Cursor Default"}),
              sent(from));
    from = host.commands.size();
    d->PM_ResCopyAllClick();
    EXPECT_EQ(
        (std::vector<std::string>{
            "Cursor Busy", "CopyText \"Mass; Formula; Name\r\n180.063388; C6H12O6; Glucose\r\n\"",
            "Cursor Default"}),
        sent(from));
    // The menu opened with the mouse over the Formula cell.
    QTreeWidget* lv = d->ui.LV_Results;
    const QPoint formulaCell(lv->columnViewportPosition(1) + 10,
                             lv->visualItemRect(lv->topLevelItem(0)).center().y());
    QCursor::setPos(lv->viewport()->mapToGlobal(formulaCell));
    d->PM_ResultsPopup();
    ASSERT_EQ(1, d->PopupColumn);
    from = host.commands.size();
    d->PM_ResCopyClick();
    EXPECT_EQ((std::vector<std::string>{"Cursor Busy", "CopyText \"C6H12O6\"", "Cursor Default"}),
              sent(from));
    d->PopupColumn = 0;
    d->PM_ResCopyClick();
    EXPECT_EQ("CopyText \"180.063388\"", host.commands[host.commands.size() - 2]);
    // Outside every cell: nothing at all.
    d->PopupColumn = -1;
    from = host.commands.size();
    d->PM_ResCopyClick();
    EXPECT_TRUE(sent(from).empty());
}

TEST_F(ExportDialog, QuotesAndNonAsciiGoOutUnchanged) {
    fill({{"180,063388", "C6H12O6", "\"\xCE\xB2\"-D-Glucose"}}, 0);
    const size_t from = host.commands.size();
    d->PM_ResCopyRowClick();
    EXPECT_EQ("CopyText \"180,063388 C6H12O6 \"\xCE\xB2\"-D-Glucose\"", sent(from).at(1));
}

TEST_F(ExportDialog, EveryExportFollowsTheDisplayedOrder) {
    fill(Rows, 1);
    d->LV_ResultsColumnClick(2); // sorted by Name
    // Whatever order the list shows, the exports follow it.
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        const QString mass = d->ui.LV_Results->topLevelItem(i)->text(0);
        for (int k = 0; k < 4; ++k)
            if (mass == QString::fromStdString(Rows[k][0])) shown.push_back(k);
    }
    ASSERT_EQ(4u, shown.size());
    ASSERT_NE((std::vector<int>{0, 1, 2, 3}), shown); // the sort changed the order
    std::string expectedText = "Mass; Formula; Name\r\n";
    for (int i : shown)
        expectedText += Rows[i][0] + "; " + Rows[i][1] + "; " + Rows[i][2] + "\r\n";

    size_t from = host.commands.size();
    d->PM_ResCopyAllClick();
    EXPECT_EQ("CopyText \"" + expectedText + "\"", sent(from).at(1));

    choose(file("sorted.csv"), ResFilterCsv);
    d->PM_ResSaveClick();
    EXPECT_EQ(expectedText, FileBytes(file("sorted.csv")));

    choose(file("sorted.dif"), ResFilterDif);
    d->PM_ResSaveClick();
    const auto tuples = ReadDif(FileBytes(file("sorted.dif")), nullptr);
    ASSERT_EQ(5u, tuples.size());
    for (size_t r = 0; r < 4; ++r)
        for (size_t c = 0; c < 3; ++c)
            EXPECT_EQ(Rows[shown[r]][c], tuples[r + 1][c].value);

    d->SearchMass = 180.063388;
    d->SearchPpm = 5;
    from = host.commands.size();
    d->PM_ResExcelClick();
    EXPECT_TRUE(messages(from).empty());
    ASSERT_EQ(1u, opened.size());
    const QJsonObject book = ReadWorkbook(opened[0]);
    EXPECT_EQ(QJsonArray{QString::fromUtf8("Mass 180.063388 \xC2\xB1 5.000 ppm")},
              book["sheets"].toArray());
    for (int r = 0; r < 4; ++r) {
        EXPECT_NEAR(QByteArray::fromStdString(Rows[shown[r]][0]).toDouble(),
                    WorkbookCell(book, r + 1, 0)["v"].toDouble(), 1e-9);
        for (int c = 1; c < 3; ++c)
            EXPECT_EQ(QString::fromUtf8(Rows[shown[r]][c].c_str()),
                      WorkbookCell(book, r + 1, c)["v"].toString());
    }
    for (int c = 0; c < 3; ++c)
        EXPECT_TRUE(WorkbookCell(book, 0, c)["bold"].toBool());
}

TEST_F(ExportDialog, SaveWritesTheChosenFilterAndNothingWhenCancelled) {
    glucose();
    // The DIF filter with a .csv name writes DIF.
    choose(file("glucose.csv"), ResFilterDif);
    size_t from = host.commands.size();
    d->PM_ResSaveClick();
    EXPECT_EQ((std::vector<std::string>{"Cursor Busy", "Cursor Default"}), sent(from));
    const std::string dif = FileBytes(file("glucose.csv"));
    EXPECT_EQ(
        0u,
        dif.rfind("TABLE\r\n0,1\r\n\"POCKETS\"\r\nVECTORS\r\n0,3\r\n\"\"\r\nTUPLES\r\n0,2\r\n", 0));
    EXPECT_NE(std::string::npos,
              dif.find("0,180.063388\r\nV\r\n1,0\r\n\"C6H12O6\"\r\n1,0\r\n\"Glucose\"\r\n"));
    // No extension typed: the chosen filter's one is added.
    choose(file("plain"), ResFilterCsv);
    d->PM_ResSaveClick();
    EXPECT_EQ("Mass; Formula; Name\r\n180.063388; C6H12O6; Glucose\r\n",
              FileBytes(file("plain.csv")));
    // Cancelled: no command, no file.
    TSaveDialog::Hook = [](TSaveDialog&, QWidget*) { return QString(); };
    from = host.commands.size();
    d->PM_ResSaveClick();
    EXPECT_TRUE(sent(from).empty());
}

TEST_F(ExportDialog, FileFailuresReportOnce) {
    glucose();
    const std::string expected = "messagebox \"Can't write the file\" \"Quorvel error:\" 16";
    for (int filter : {ResFilterCsv, ResFilterDif}) {
        // A folder that is not there.
        choose(file("missing/r.csv"), filter);
        size_t from = host.commands.size();
        d->PM_ResSaveClick();
        EXPECT_EQ((std::vector<std::string>{expected}), messages(from));
        EXPECT_EQ("Cursor Default", host.commands.back());
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("missing/r.csv"))));
        // A device that is full (through a link: a name without an extension
        // would get one added).
        const QString full = QString::fromStdString(file("full.csv"));
        QFile::remove(full);
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), full));
        choose(full.toStdString(), filter);
        from = host.commands.size();
        d->PM_ResSaveClick();
        EXPECT_EQ((std::vector<std::string>{expected}), messages(from));
        EXPECT_EQ("Cursor Default", host.commands.back());
    }
}

TEST_F(ExportDialog, WorkbookThatCannotBeMadeReportsString50) {
    glucose();
    const QByteArray old = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/proc/no-such-folder");
    const size_t from = host.commands.size();
    d->PM_ResExcelClick();
    if (old.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", old);
    EXPECT_EQ((std::vector<std::string>{
                  "messagebox \"Excel driver initialization failed\" \"Quorvel error:\" 16"}),
              messages(from));
    EXPECT_EQ("Cursor Busy", sent(from).front());
    EXPECT_EQ("Cursor Default", host.commands.back());
    EXPECT_TRUE(opened.empty());
}

TEST_F(ExportDialog, WorkbookThatNoProgramOpensIsOfferedForSaving) {
    glucose();
    QString shown;
    TExcel8Driver::ViewHook = [&shown](const QString& p) {
        shown = p;
        return false;
    };
    // No: the message names the workbook, which stays where it was saved.
    host.clearAnswers();
    host.answer("Get DataDir", 0, data.path().toStdString() + "/");
    host.answer("messagebox", 0, "7");
    size_t from = host.commands.size();
    d->PM_ResExcelClick();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(shown));
    const std::vector<std::string> asked = messages(from);
    ASSERT_EQ(1u, asked.size());
    EXPECT_EQ("messagebox \"No spreadsheet program could open the workbook.\nIt was saved as:\n" +
                  std::string(shown.toUtf8().constData()) +
                  "\n\nSave a copy elsewhere?\" \"Mass spectrometry tool\" 36",
              asked[0]);
    // The cursor is the default one while the user decides.
    const std::vector<std::string> cmds = sent(from);
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ("Cursor Default", cmds[cmds.size() - 2]);
    EXPECT_EQ(asked[0], cmds.back());

    // Yes: a copy where the user chooses, in the workbook format.
    host.clearAnswers();
    host.answer("Get DataDir", 0, data.path().toStdString() + "/");
    host.answer("messagebox", 0, "6");
    QString filter;
    const std::string copy = file("kept");
    TSaveDialog::Hook = [&filter, copy](TSaveDialog& dlg, QWidget*) {
        filter = dlg.Filter;
        return QString::fromStdString(copy);
    };
    from = host.commands.size();
    d->PM_ResExcelClick();
    EXPECT_EQ("Excel workbook (*.xlsx)|*.xlsx", filter.toStdString());
    QFile a(shown), b(QString::fromStdString(copy) + ".xlsx");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly)) << "no copy at " << copy << ".xlsx";
    EXPECT_EQ(a.readAll(), b.readAll());
    EXPECT_EQ(1u, messages(from).size());

    // A copy that cannot be written is reported.
    TSaveDialog::Hook = [](TSaveDialog&, QWidget*) { return QStringLiteral("/proc/no/such.xlsx"); };
    from = host.commands.size();
    d->PM_ResExcelClick();
    const std::vector<std::string> failed = messages(from);
    ASSERT_EQ(2u, failed.size());
    EXPECT_EQ("messagebox \"Can't write the file\" \"Quorvel error:\" 16", failed[1]);
}

TEST_F(ExportDialog, SaveDialogOpensCentredOverTheMainDialog) {
    glucose();
    QRect shown;
    TSaveDialog::Hook = [&shown](TSaveDialog&, QWidget* parent) {
        QFileDialog dlg(parent);
        dlg.setOption(QFileDialog::DontUseNativeDialog);
        dlg.resize(320, 200);
        dlg.show();
        dlg.move(0, 0);
        QApplication::processEvents();
        shown = dlg.frameGeometry();
        return QString();
    };
    d->PM_ResSaveClick();
    ASSERT_TRUE(shown.isValid());
    const QRect over = d->frameGeometry();
    const QRect avail = d->screen()->availableGeometry();
    const int x = std::clamp(over.center().x() - shown.width() / 2, avail.left(),
                             std::max(avail.left(), avail.right() + 1 - shown.width()));
    const int y = std::clamp(over.center().y() - shown.height() / 2, avail.top(),
                             std::max(avail.top(), avail.bottom() + 1 - shown.height()));
    EXPECT_NEAR(x, shown.x(), 2);
    EXPECT_NEAR(y, shown.y(), 2);
}
