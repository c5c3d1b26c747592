// The edit menu: enabling, simple commands and filtered paste.
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>

#include "dialog_fixture.h"
#include "edit_popup.h"
#include "localized.h"
#include "formatsettings.h"

namespace {

TEST(EditPopupFilter, KeepsWhatEachFieldTakes) {
    const uint32_t mass = EP_DECSEP | EP_NOSIGN, limit = EP_NODECSEP | EP_NOSIGN,
                   memo = EP_DECSEP | EP_KEEPSPACE | EP_NOSIGN;
    EXPECT_EQ("12.53", EditPopupFilter("-12.5e3 kg", mass, '.'));
    EXPECT_EQ("12,53", EditPopupFilter("-12.5e3 kg", mass, ','));
    EXPECT_EQ("12,53", EditPopupFilter("-12,5e3 kg", mass, ','));
    EXPECT_EQ("1253", EditPopupFilter("-12,5e3 kg", mass, '.'));  // a comma that is no separator
    EXPECT_EQ("1000", EditPopupFilter("1,000", limit, '.'));
    EXPECT_EQ("1000", EditPopupFilter("1,000", limit, ','));
    EXPECT_EQ("", EditPopupFilter(" 301.1", mass, '.'));  // a leading blank ends the text
    EXPECT_EQ("", EditPopupFilter("no digits", mass, '.'));
    EXPECT_EQ("180.06\t100\r\n181.07\t6.8", EditPopupFilter("180.06\t100\r\n181.07\t6.8", memo, '.'));
    EXPECT_EQ("-1+2", EditPopupFilter("-1+2", EP_DECSEP, '.'));  // signs stay without EP_NOSIGN
    EXPECT_EQ("12", EditPopupFilter("1.2", EP_NOSIGN, '.'));     // points dropped with no decimal flag
    EXPECT_EQ("x y\xC2\xB1", EditPopupFilter("x y\xC2\xB1", 0, '.'));
    EXPECT_EQ("a.b", EditPopupFilter("a.b", EP_RAW | EP_DECSEP, ','));
    EXPECT_EQ("35", EditPopupFilter(QString::fromUtf8("3\xC2\xB5" "5"), mass, '.'));
}

struct EditPopupTest : DialogFixture {
    TDlgQvMain* d = nullptr;
    char savedSep = '.';
    void SetUp() override {
        DialogFixture::SetUp();
        d = show();
        savedSep = FormatSettings.DecimalSeparator;
    }
    void TearDown() override {
        FormatSettings.DecimalSeparator = savedSep;
        PM_Edit->SetTarget(nullptr);
        DialogFixture::TearDown();
    }
    QString pasteInto(QWidget* field, const QString& clip) {
        QGuiApplication::clipboard()->setText(clip);
        PM_Edit->SetTarget(field);
        PM_Edit->PasteClick();
        if (auto* le = qobject_cast<QLineEdit*>(field)) return le->text();
        return static_cast<QPlainTextEdit*>(field)->toPlainText();
    }
};

TEST_F(EditPopupTest, PasteFiltersPerFieldAndKeepsTheFilteredText) {
    FormatSettings.DecimalSeparator = '.';
    EXPECT_EQ("12.53", pasteInto(d->ui.STR_Mass, "-12.5e3 kg"));
    EXPECT_EQ("12.53", QGuiApplication::clipboard()->text());
    EXPECT_EQ("180.0634\t100\n181.067\t7.2",
              pasteInto(d->ui.ME_ExData, "180.0634\t100\n181.067\t7.2"));
    for (char sep : {'.', ','}) {
        FormatSettings.DecimalSeparator = sep;
        d->ui.STR_MaxResults->clear();
        EXPECT_EQ("1000", pasteInto(d->ui.STR_MaxResults, "1,000"));
    }
    FormatSettings.DecimalSeparator = ',';
    d->ui.STR_Ppm->clear();
    EXPECT_EQ("2,5", pasteInto(d->ui.STR_Ppm, "2.5 ppm"));
}

TEST_F(EditPopupTest, NothingToPasteLeavesFieldAndClipboardAlone) {
    d->ui.STR_Mass->setText("301");
    d->ui.STR_Mass->setCursorPosition(3);
    EXPECT_EQ("301", pasteInto(d->ui.STR_Mass, "glucose"));
    EXPECT_EQ("glucose", QGuiApplication::clipboard()->text());
    EXPECT_EQ("301", pasteInto(d->ui.STR_Mass, " 5"));
    EXPECT_EQ(" 5", QGuiApplication::clipboard()->text());
}

TEST_F(EditPopupTest, ControlVInAFieldPastesThroughTheFilter) {
    FormatSettings.DecimalSeparator = '.';
    d->ui.STR_Mass->clear();
    QGuiApplication::clipboard()->setText("m/z = 445.12 (M+H)");
    QTest::keyClick(d->ui.STR_Mass, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ("", d->ui.STR_Mass->text()) << "'m/z' has no digits before the first blank";
    QGuiApplication::clipboard()->setText("445.12 (M+H)");
    QTest::keyClick(d->ui.STR_Mass, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ("445.12", d->ui.STR_Mass->text());
}

TEST_F(EditPopupTest, ItemsAreEnabledByTheFieldsState) {
    QLineEdit* f = d->ui.STR_Mass;
    QMenu* m = PM_Edit->Menu();
    auto enabled = [&](int stringId) {
        for (QAction* a : m->actions())
            if (a->text() == QString::fromUtf8(GetStr(stringId))) return a->isEnabled();
        ADD_FAILURE() << "no item " << stringId;
        return false;
    };
    PM_Edit->SetTarget(f);
    f->clear();
    QGuiApplication::clipboard()->clear();
    PM_Edit->PopupEvent();
    EXPECT_FALSE(enabled(45));  // Delete
    EXPECT_FALSE(enabled(43));  // Copy
    EXPECT_FALSE(enabled(44));  // Cut
    EXPECT_FALSE(enabled(46));  // Paste: nothing on the clipboard
    EXPECT_FALSE(enabled(47));  // Select all
    PM_Edit->PopupEvent();
    EXPECT_FALSE(enabled(48));  // Undo: nothing typed yet
    QTest::keyClicks(f, "301.14");
    f->setSelection(0, 3);
    QGuiApplication::clipboard()->setText("1");
    PM_Edit->PopupEvent();
    EXPECT_TRUE(enabled(45));
    EXPECT_TRUE(enabled(43));
    EXPECT_TRUE(enabled(44));
    EXPECT_TRUE(enabled(46));
    EXPECT_TRUE(enabled(47));
    EXPECT_TRUE(enabled(48));  // Undo: the typing can be undone
    f->selectAll();
    PM_Edit->PopupEvent();
    EXPECT_FALSE(enabled(47)) << "everything is selected already";
    // Captions and shortcuts as the user sees them.
    QStringList captions;
    for (QAction* a : m->actions()) captions << (a->isSeparator() ? "-" : a->text() + " " + a->shortcut().toString());
    EXPECT_EQ(QStringList({"&Undo Ctrl+Z", "-", "Cu&t Ctrl+X", "&Copy Ctrl+C", "&Paste Ctrl+V", "&Delete Del",
                           "-", "&Select all Ctrl+A"}),
              captions);
}

TEST_F(EditPopupTest, DeleteTakesTheCharacterAfterTheCaret) {
    QLineEdit* f = d->ui.STR_Mass;
    PM_Edit->SetTarget(f);
    f->setText("301.14");
    f->setCursorPosition(1);
    PM_Edit->ClearClick();
    EXPECT_EQ("31.14", f->text());
    f->setCursorPosition(5);
    PM_Edit->ClearClick();
    EXPECT_EQ("31.14", f->text());
    f->setSelection(1, 3);
    PM_Edit->ClearClick();
    EXPECT_EQ("34", f->text());
    PM_Edit->SelectClick();
    EXPECT_EQ("34", f->selectedText());
    PM_Edit->CutClick();
    EXPECT_EQ("", f->text());
    EXPECT_EQ("34", QGuiApplication::clipboard()->text());
    PM_Edit->UndoClick();
    EXPECT_EQ("34", f->text());
    QPlainTextEdit* memo = d->ui.ME_ExData;
    PM_Edit->SetTarget(memo);
    memo->setPlainText("180\t100");
    QTextCursor c = memo->textCursor();
    c.setPosition(0);
    memo->setTextCursor(c);
    PM_Edit->ClearClick();
    EXPECT_EQ("80\t100", memo->toPlainText());
}

} // namespace
