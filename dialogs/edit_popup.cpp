#include "edit_popup.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <new>

#include "formatsettings.h"
#include "localized.h"

TEditPopup* PM_Edit = nullptr;

QString EditPopupFilter(const QString& text, uint32_t flags, QChar decSep) {
    if (flags == 0 || (flags & EP_RAW)) return text;
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char('.') || c == decSep) {
            if (flags & EP_DECSEP) {
                out += decSep;
                continue;
            }
            if (flags & EP_NODECSEP) continue;
        }
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r') ||
            c == QLatin1Char(' ')) {
            if (!(flags & EP_KEEPSPACE)) break;
            out += c;
        } else if (c == QLatin1Char('+') || c == QLatin1Char('-')) {
            if (!(flags & EP_NOSIGN)) out += c;
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            out += c;
        }
    }
    return out;
}

namespace {

uint32_t flagsOf(const QWidget* w) {
    return w ? w->property(EditPopupFlagsProperty).toUInt() : 0;
}

struct FieldState {
    int length = 0, start = 0, end = 0;
    bool undo = false;
};

FieldState stateOf(QWidget* w) {
    FieldState s;
    if (auto* le = qobject_cast<QLineEdit*>(w)) {
        s.length = le->text().size();
        if (le->hasSelectedText()) {
            s.start = le->selectionStart();
            s.end = s.start + le->selectedText().size();
        } else {
            s.start = s.end = le->cursorPosition();
        }
        s.undo = le->isUndoAvailable();
    } else if (auto* te = qobject_cast<QPlainTextEdit*>(w)) {
        QTextCursor c = te->textCursor();
        s.length = te->document()->characterCount() - 1;
        s.start = c.selectionStart();
        s.end = c.selectionEnd();
        s.undo = te->document()->isUndoAvailable();
    }
    return s;
}

bool clipboardHasText() {
    const QMimeData* m = QGuiApplication::clipboard()->mimeData();
    return m && m->hasText();
}

} // namespace

TEditPopup::TEditPopup() {
    popup = new QMenu();
    popup->setObjectName(QStringLiteral("PM_Edit"));
    UndoItem = addItem(48, QKeySequence(Qt::CTRL | Qt::Key_Z), &TEditPopup::UndoClick);
    popup->addSeparator();
    CutItem = addItem(44, QKeySequence(Qt::CTRL | Qt::Key_X), &TEditPopup::CutClick);
    CopyItem = addItem(43, QKeySequence(Qt::CTRL | Qt::Key_C), &TEditPopup::CopyClick);
    PasteItem = addItem(46, QKeySequence(Qt::CTRL | Qt::Key_V), &TEditPopup::PasteClick);
    DeleteItem = addItem(45, QKeySequence(Qt::Key_Delete), &TEditPopup::ClearClick);
    popup->addSeparator();
    SelectAllItem = addItem(47, QKeySequence(Qt::CTRL | Qt::Key_A), &TEditPopup::SelectClick);
    connect(popup, &QMenu::aboutToShow, this, &TEditPopup::PopupEvent);
}

TEditPopup::~TEditPopup() { delete popup; }

QAction* TEditPopup::addItem(int stringId, const QKeySequence& key, void (TEditPopup::*handler)()) {
    QAction* a = popup->addAction(QString::fromUtf8(GetStr(stringId)));
    a->setShortcut(key);
    // The fields handle the keys themselves; the shortcut is shown in the menu.
    a->setShortcutContext(Qt::WidgetShortcut);
    connect(a, &QAction::triggered, this, handler);
    return a;
}

void TEditPopup::SetPopup(QWidget* control, int flags) {
    if (!qobject_cast<QLineEdit*>(control) && !qobject_cast<QPlainTextEdit*>(control)) return;
    control->setProperty(EditPopupFlagsProperty, static_cast<uint32_t>(flags));
    control->setContextMenuPolicy(Qt::DefaultContextMenu);
    control->installEventFilter(this);
}

QWidget* TEditPopup::Target() const {
    if (target_) return target_;
    return QApplication::focusWidget();
}

bool TEditPopup::eventFilter(QObject* watched, QEvent* event) {
    auto* field = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::ContextMenu && field && popup) {
        auto* e = static_cast<QContextMenuEvent*>(event);
        field->setFocus(Qt::PopupFocusReason);
        target_ = field;
        popup->exec(e->globalPos());
        target_ = nullptr;
        return true;
    }
    if (event->type() == QEvent::KeyPress && field) {
        // Ctrl+V in a registered field pastes through the filter, as the menu does.
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->matches(QKeySequence::Paste)) {
            target_ = field;
            PasteClick();
            target_ = nullptr;
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TEditPopup::PopupEvent() {
    const FieldState s = stateOf(Target());
    DeleteItem->setEnabled(s.length != 0);
    CopyItem->setEnabled(s.length != 0 && s.start != s.end);
    CutItem->setEnabled(s.length != 0 && s.start != s.end);
    PasteItem->setEnabled(clipboardHasText());
    SelectAllItem->setEnabled(s.length != 0 && !(s.start == 0 && s.end == s.length));
    UndoItem->setEnabled(s.undo);
}

void TEditPopup::UndoClick() {
    QWidget* w = Target();
    if (auto* le = qobject_cast<QLineEdit*>(w)) le->undo();
    else if (auto* te = qobject_cast<QPlainTextEdit*>(w)) te->undo();
}

void TEditPopup::CutClick() {
    QWidget* w = Target();
    if (auto* le = qobject_cast<QLineEdit*>(w)) le->cut();
    else if (auto* te = qobject_cast<QPlainTextEdit*>(w)) te->cut();
}

void TEditPopup::CopyClick() {
    QWidget* w = Target();
    if (auto* le = qobject_cast<QLineEdit*>(w)) le->copy();
    else if (auto* te = qobject_cast<QPlainTextEdit*>(w)) te->copy();
}

void TEditPopup::ClearClick() {
    QWidget* w = Target();
    if (auto* le = qobject_cast<QLineEdit*>(w)) {
        if (!le->hasSelectedText()) le->setSelection(le->cursorPosition(), 1);
        le->del();
    } else if (auto* te = qobject_cast<QPlainTextEdit*>(w)) {
        QTextCursor c = te->textCursor();
        if (!c.hasSelection()) c.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        c.removeSelectedText();
        te->setTextCursor(c);
    }
}

void TEditPopup::SelectClick() {
    QWidget* w = Target();
    if (auto* le = qobject_cast<QLineEdit*>(w)) le->selectAll();
    else if (auto* te = qobject_cast<QPlainTextEdit*>(w)) te->selectAll();
}

void TEditPopup::PasteClick() {
    if (!clipboardHasText()) return;
    QWidget* w = Target();
    const uint32_t flags = flagsOf(w);
    if (flags != 0 && !(flags & EP_RAW)) {
        QString filtered;
        try {
            filtered = EditPopupFilter(QGuiApplication::clipboard()->text(), flags,
                                       QChar(FormatSettings.DecimalSeparator));
        } catch (const std::bad_alloc&) {
            CatErr(55);
            return;
        }
        if (filtered.isEmpty()) return;
        // The clipboard keeps the filtered text, as the field receives it.
        QGuiApplication::clipboard()->setText(filtered);
    }
    if (auto* le = qobject_cast<QLineEdit*>(w)) le->paste();
    else if (auto* te = qobject_cast<QPlainTextEdit*>(w)) te->paste();
}
