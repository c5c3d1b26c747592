#include "edit_popup.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextCursor>
#include <algorithm>
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

TEditPopup::~TEditPopup() {
    for (const QPointer<QShortcut>& sc : shortcuts_)
        delete sc.data();
    for (const QPointer<QWidget>& field : fields_) {
        if (!field) continue;
        field->removeEventFilter(this);
        if (auto* area = qobject_cast<QAbstractScrollArea*>(field.data()))
            area->viewport()->removeEventFilter(this);
    }
    delete popup;
}

QAction* TEditPopup::addItem(int stringId, const QKeySequence& key, Handler handler) {
    QAction* a = popup->addAction(QString::fromUtf8(GetStr(stringId)));
    a->setShortcut(key);
    // Shown in the menu; each field has the keys as shortcuts of its own.
    a->setShortcutContext(Qt::WidgetShortcut);
    connect(a, &QAction::triggered, this, handler);
    items_.push_back({a, handler});
    return a;
}

void TEditPopup::SetPopup(QWidget* control, int flags) {
    if (!qobject_cast<QLineEdit*>(control) && !qobject_cast<QPlainTextEdit*>(control)) return;
    control->setProperty(EditPopupFlagsProperty, static_cast<uint32_t>(flags));
    if (std::find(fields_.begin(), fields_.end(), control) != fields_.end()) return;
    fields_.emplace_back(control);
    control->setContextMenuPolicy(Qt::DefaultContextMenu);
    control->installEventFilter(this);
    // A memo receives the mouse (right button, middle button, drops) in its viewport.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(control))
        area->viewport()->installEventFilter(this);
    for (const Item& item : items_) {
        auto* sc = new QShortcut(item.action->shortcut(), control);
        sc->setContext(Qt::WidgetShortcut);
        QAction* action = item.action;
        connect(sc, &QShortcut::activated, this, [this, control, action] { runShortcut(control, action); });
        shortcuts_.emplace_back(sc);
    }
}

QWidget* TEditPopup::Target() const {
    if (target_) return target_;
    return QApplication::focusWidget();
}

QWidget* TEditPopup::fieldOf(QObject* watched) const {
    for (const QPointer<QWidget>& field : fields_) {
        if (!field) continue;
        if (field == watched) return field;
        if (auto* area = qobject_cast<QAbstractScrollArea*>(field.data()))
            if (area->viewport() == watched) return field;
    }
    return nullptr;
}

QAction* TEditPopup::itemForKey(const QKeyEvent* key) const {
    // The keypad's Delete is the Delete key too.
    const QKeySequence pressed(
        QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key())));
    for (const Item& item : items_)
        if (item.action->shortcut() == pressed) return item.action;
    return nullptr;
}

void TEditPopup::runShortcut(QWidget* field, QAction* item) {
    const QPointer<QWidget> previous = target_;
    target_ = field;
    PopupEvent();
    if (item->isEnabled())
        for (const Item& i : items_)
            if (i.action == item) (this->*i.handler)();
    target_ = previous;
}

bool TEditPopup::eventFilter(QObject* watched, QEvent* event) {
    QWidget* field = fieldOf(watched);
    if (!field) return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ContextMenu:
        if (popup) {
            auto* e = static_cast<QContextMenuEvent*>(event);
            field->setFocus(Qt::PopupFocusReason);
            target_ = field;
            popup->exec(e->globalPos());
            target_ = nullptr;
            return true;
        }
        break;
    case QEvent::ShortcutOverride:
        // The field would claim its standard keys for itself; the menu's keys
        // go to the field's shortcuts instead, so that the key press never
        // reaches a key filter.
        if (itemForKey(static_cast<QKeyEvent*>(event))) {
            event->ignore();
            return true;
        }
        break;
    case QEvent::KeyPress:
        // Shift+Insert, the other paste key, pastes through the filter too.
        if (static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
            target_ = field;
            PasteClick();
            target_ = nullptr;
            return true;
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return dragFilter(field, watched, event);
    case QEvent::MouseButtonRelease:
        return middleButtonPaste(field, static_cast<QMouseEvent*>(event));
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool TEditPopup::dragFilter(QWidget* field, QObject* watched, QEvent* event) {
    if (forwardingDrop_) return false;
    const uint32_t flags = flagsOf(field);
    if (flags == 0 || (flags & EP_RAW)) return false;
    auto* e = static_cast<QDropEvent*>(event);
    const QMimeData* data = e->mimeData();
    const QChar sep(FormatSettings.DecimalSeparator);
    if (event->type() != QEvent::Drop) {
        // Judged once per drag: the text may be long.
        if (event->type() == QEvent::DragEnter || data != dragData_) {
            dragData_ = data;
            dragTakes_ = data && data->hasText() && !EditPopupFilter(data->text(), flags, sep).isEmpty();
        }
        if (dragTakes_) return false; // the field shows where the text goes
        e->ignore();
        return true;
    }
    dragData_ = nullptr;
    const QString text = data && data->hasText() ? data->text() : QString();
    const QString filtered = EditPopupFilter(text, flags, sep);
    if (filtered.isEmpty()) {
        e->ignore();
        return true;
    }
    if (filtered == text && !data->hasHtml()) return false;
    // The field drops the filtered text as if it had been dragged.
    QMimeData plain;
    plain.setText(filtered);
    QDropEvent copy(e->position(), e->possibleActions(), &plain, e->buttons(), e->modifiers());
    copy.setDropAction(e->dropAction());
    forwardingDrop_ = true;
    QCoreApplication::sendEvent(watched, &copy);
    forwardingDrop_ = false;
    e->setDropAction(copy.dropAction());
    e->setAccepted(copy.isAccepted());
    return true;
}

bool TEditPopup::middleButtonPaste(QWidget* field, QMouseEvent* event) {
    // Only where the platform has a selection to paste from (X11); the
    // field does nothing with the middle button otherwise.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (event->button() != Qt::MiddleButton || !clipboard->supportsSelection()) return false;
    const uint32_t flags = flagsOf(field);
    if (flags == 0 || (flags & EP_RAW)) return false;
    const QString filtered = EditPopupFilter(clipboard->text(QClipboard::Selection), flags,
                                             QChar(FormatSettings.DecimalSeparator));
    // The selection belongs to the program it was made in: it stays as it is.
    if (auto* le = qobject_cast<QLineEdit*>(field)) {
        if (le->isReadOnly()) return true;
        if (filtered.isEmpty()) return true;
        le->deselect();
        le->setCursorPosition(le->cursorPositionAt(event->position().toPoint()));
        le->insert(filtered);
    } else if (auto* te = qobject_cast<QPlainTextEdit*>(field)) {
        if (te->isReadOnly() || filtered.isEmpty()) return true;
        // The event came to the viewport, whose coordinates the memo's cursor takes.
        te->setTextCursor(te->cursorForPosition(event->position().toPoint()));
        te->insertPlainText(filtered);
    }
    return true;
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
