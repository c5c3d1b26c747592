// Keystroke filters, decimal-separator conversion and the format settings.
#include "editevents.h"
#include "formatsettings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Sets the user's decimal separator for one test and puts it back after.
class SeparatorScope {
  public:
    explicit SeparatorScope(char sep) : saved_(FormatSettings.DecimalSeparator) {
        FormatSettings.DecimalSeparator = sep;
    }
    ~SeparatorScope() { FormatSettings.DecimalSeparator = saved_; }

  private:
    char saved_;
};

// A shown line edit with a keystroke filter attached.
struct FilteredEdit {
    QLineEdit edit;
    explicit FilteredEdit(TBriskKeyFilter f) {
        EXPECT_TRUE(BriskGetEditEvents()->Attach(&edit, f));
        edit.show();
        edit.setFocus();
    }
    QString Type(const QString& keys) {
        QTest::keyClicks(&edit, keys);
        return edit.text();
    }
};

class FloatPosTyping : public ::testing::TestWithParam<char> {};

} // namespace

TEST_P(FloatPosTyping, OnlyAPositiveRealReachesTheField) {
    const char sep = GetParam();
    SeparatorScope scope(sep);
    const QString s(QLatin1Char{sep});
    {
        FilteredEdit e(TBriskKeyFilter::FloatPos);
        EXPECT_EQ(e.Type("-12.5e3"), "12" + s + "53"); // a point stands for the separator
    }
    {
        FilteredEdit e(TBriskKeyFilter::FloatPos);
        EXPECT_EQ(e.Type("1.2.3"), "1" + s + "23");
    }
    {
        FilteredEdit e(TBriskKeyFilter::FloatPos);
        // A comma is the separator only where it is the user's.
        EXPECT_EQ(e.Type("1,2,3"), sep == ',' ? QString("1,23") : QString("123"));
    }
    {
        FilteredEdit e(TBriskKeyFilter::FloatPos);
        EXPECT_EQ(e.Type(QString::fromUtf8(" +7 ab\u00b5")), "7");
    }
    {
        // A separator inside the selection may be typed over.
        FilteredEdit e(TBriskKeyFilter::FloatPos);
        e.edit.setText("1" + s + "5");
        e.edit.setSelection(1, 1);
        EXPECT_EQ(e.Type("."), "1" + s + "5");
        e.edit.selectAll();
        EXPECT_EQ(e.Type("2.75"), "2" + s + "75");
        e.edit.end(false);
        EXPECT_EQ(e.Type("."), "2" + s + "75");
    }
}

INSTANTIATE_TEST_SUITE_P(BothSeparators, FloatPosTyping, ::testing::Values('.', ','));

TEST(KeyFilters, EditingKeysAndShortcutsStillWork) {
    SeparatorScope scope('.');
    FilteredEdit e(TBriskKeyFilter::FloatPos);
    e.Type("12.5");
    QTest::keyClick(&e.edit, Qt::Key_Backspace);
    EXPECT_EQ(e.edit.text(), "12.");
    QTest::keyClick(&e.edit, Qt::Key_Home);
    EXPECT_EQ(e.Type("9"), "912.");
    QTest::keyClick(&e.edit, Qt::Key_Right);
    QTest::keyClick(&e.edit, Qt::Key_Delete); // removes the "2" after the caret
    EXPECT_EQ(e.edit.text(), "91.");
    QTest::keyClick(&e.edit, Qt::Key_End);
    QTest::keyClick(&e.edit, Qt::Key_Left);
    EXPECT_EQ(e.edit.cursorPosition(), 2);
    QTest::keyClick(&e.edit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(e.edit.selectedText(), "91.");
    EXPECT_EQ(e.Type("4"), "4");
    QTest::keyClick(&e.edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(e.edit.text(), "91.");
}

TEST(KeyFilters, KeysWithAltOrMetaTypeNothing) {
    SeparatorScope scope('.');
    for (TBriskKeyFilter f : {TBriskKeyFilter::FloatPos, TBriskKeyFilter::IntPos}) {
        FilteredEdit e(f);
        e.Type("12");
        QTest::keyClick(&e.edit, 'a', Qt::AltModifier);
        QTest::keyClick(&e.edit, '-', Qt::AltModifier);
        QTest::keyClick(&e.edit, 'e', Qt::MetaModifier);
        QTest::keyClick(&e.edit, 'x', Qt::ControlModifier | Qt::AltModifier);
        // A digit with Alt is no typing either (AltGr comes without Alt).
        QTest::keyClick(&e.edit, '7', Qt::AltModifier);
        QTest::keyClick(&e.edit, '.', Qt::MetaModifier);
        EXPECT_EQ(e.edit.text().toStdString(), "12");
        // Modifier keys alone and Ctrl with a key that types nothing still pass.
        QTest::keyClick(&e.edit, Qt::Key_Shift, Qt::ShiftModifier);
        QTest::keyClick(&e.edit, Qt::Key_Left, Qt::ControlModifier); // one word left: the start
        EXPECT_EQ(e.Type("3").toStdString(), "312");
    }
    EXPECT_TRUE(BriskTypesText("a"));
    EXPECT_TRUE(BriskTypesText(QString::fromUtf8("\x01\xC3\xA9")));
    EXPECT_FALSE(BriskTypesText(QString()));
    EXPECT_FALSE(BriskTypesText("\r\x1b"));
}

TEST(KeyFilters, IntPosTakesDigitsOnly) {
    for (char sep : {'.', ','}) {
        SeparatorScope scope(sep);
        FilteredEdit e(TBriskKeyFilter::IntPos);
        EXPECT_EQ(e.Type("a1-2.3,4 5e+6"), "123456");
    }
}

TEST(KeyFilters, MemoAndReadOnlyAndDetach) {
    SeparatorScope scope(',');
    QPlainTextEdit memo;
    ASSERT_TRUE(BriskGetEditEvents()->Attach(&memo, TBriskKeyFilter::IntPos));
    QTest::keyClicks(&memo, "1x2");
    QTest::keyClick(&memo, Qt::Key_Return);
    QTest::keyClicks(&memo, "3.4");
    EXPECT_EQ(memo.toPlainText(), "12\n34");

    QPlainTextEdit real;
    BriskGetEditEvents()->Attach(&real, TBriskKeyFilter::FloatPos);
    QTest::keyClicks(&real, "3.1.4");
    EXPECT_EQ(real.toPlainText(), "3,14");

    // A mapped key must not slip into a read-only field.
    FilteredEdit ro(TBriskKeyFilter::FloatPos);
    ro.edit.setText("5");
    ro.edit.setReadOnly(true);
    EXPECT_EQ(ro.Type(".7"), "5");

    FilteredEdit off(TBriskKeyFilter::IntPos);
    ASSERT_TRUE(BriskGetEditEvents()->Attach(&off.edit, TBriskKeyFilter::None));
    EXPECT_EQ(TBriskEditEvents::AttachedFilter(&off.edit), TBriskKeyFilter::None);
    EXPECT_EQ(off.Type("x-1"), "x-1");

    QPushButton button;
    EXPECT_FALSE(BriskGetEditEvents()->Attach(&button, TBriskKeyFilter::IntPos));
    EXPECT_FALSE(BriskGetEditEvents()->Attach(nullptr, TBriskKeyFilter::IntPos));
}

TEST(KeyFilters, HandlersAndPredicates) {
    const QChar dot('.'), comma(',');
    // Second separator, before or after the caret, in either spelling.
    EXPECT_TRUE(BriskAcceptFloatPosChar("12", 2, dot, dot));
    EXPECT_FALSE(BriskAcceptFloatPosChar("1.2", 0, dot, dot));
    EXPECT_FALSE(BriskAcceptFloatPosChar("1,2", 3, dot, comma));
    EXPECT_FALSE(BriskAcceptFloatPosChar("1.2", 3, comma, comma));
    EXPECT_FALSE(BriskAcceptFloatPosChar("", 0, comma, dot));
    EXPECT_FALSE(BriskAcceptFloatPosChar("", 0, '-', dot));
    EXPECT_FALSE(BriskAcceptFloatPosChar("", 0, QChar(0x0663), dot)); // Arabic-Indic 3
    EXPECT_TRUE(BriskAcceptFloatPosChar("1.2", 3, QChar('\b'), dot));
    EXPECT_EQ(BriskFilterFloatPosChar("12", 1, 0, dot, comma), comma);
    EXPECT_EQ(BriskFilterFloatPosChar("1,5", 1, 1, comma, comma), comma);
    EXPECT_TRUE(BriskFilterFloatPosChar("1,5", 0, 1, comma, comma).isNull());
    // Out-of-range selections are clamped, not trusted.
    EXPECT_TRUE(BriskFilterFloatPosChar("1.5", -4, 2, dot, dot).isNull());
    EXPECT_EQ(BriskFilterFloatPosChar("15", 9, 9, dot, dot), dot);

    EXPECT_TRUE(BriskAcceptIntPosChar('0'));
    EXPECT_TRUE(BriskAcceptIntPosChar('\t'));
    EXPECT_FALSE(BriskAcceptIntPosChar('.'));
    EXPECT_FALSE(BriskAcceptIntPosChar(QChar(0x0663)));

    SeparatorScope scope(',');
    QChar key('.');
    BriskGetEditEvents()->FloatPos(nullptr, key);
    EXPECT_EQ(key, comma);
    key = 'e';
    BriskGetEditEvents()->FloatPos(nullptr, key);
    EXPECT_TRUE(key.isNull());
    key = '7';
    BriskGetEditEvents()->IntPos(nullptr, key);
    EXPECT_EQ(key, QChar('7'));
    QLineEdit has;
    has.setText("0,5");
    key = '.';
    BriskGetEditEvents()->FloatPos(&has, key);
    EXPECT_TRUE(key.isNull());
}

TEST(DecSepToLoc, PointsBecomeTheUserSeparator) {
    {
        SeparatorScope scope(',');
        std::string a = "1.5\t2.25\r\n1000";
        BriskDecSepToLoc(a);
        EXPECT_EQ(a, "1,5\t2,25\r\n1000");
        QString w = QString::fromUtf8("±0.001 and 3.5");
        BriskDecSepToLoc(w);
        EXPECT_EQ(w, QString::fromUtf8("±0,001 and 3,5"));
    }
    {
        SeparatorScope scope('.');
        std::string a = "1.5,2";
        BriskDecSepToLoc(a);
        EXPECT_EQ(a, "1.5,2");
        QString w = "1.5";
        BriskDecSepToLoc(w);
        EXPECT_EQ(w, "1.5");
    }
}

// Runs only in the child process that FormatSettingsTest starts.
TEST(DISABLED_FormatSettingsChild, ReadFromTheEnvironment) {
    const QByteArray want = qgetenv("BRISK_EXPECT_SEP");
    ASSERT_EQ(want.size(), 1);
    EXPECT_EQ(FormatSettings.DecimalSeparator, want[0]);
}

TEST(FormatSettingsTest, ReadOnceFromTheSystemLocale) {
    struct Case {
        const char* lang;
        char sep;
    };
    for (const Case& c : {Case{"de_DE.UTF-8", ','}, Case{"en_US.UTF-8", '.'},
                          Case{"fr_FR.UTF-8", ','}, Case{"C", '.'}}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("LC_NUMERIC");
        env.remove("LANG");
        env.insert("LC_ALL", c.lang);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("BRISK_EXPECT_SEP", QString(QLatin1Char(c.sep)));
        p.setProcessEnvironment(env);
        p.start(
            QCoreApplication::applicationFilePath(),
            {"--gtest_also_run_disabled_tests", "--gtest_filter=DISABLED_FormatSettingsChild.*"});
        ASSERT_TRUE(p.waitForFinished(60000)) << c.lang;
        EXPECT_EQ(p.exitCode(), 0) << c.lang << "\n" << p.readAll().toStdString();
    }
}
