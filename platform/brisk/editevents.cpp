#include "editevents.h"
#include "formatsettings.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>

namespace {

const char* const kFilterProperty = "briskKeyFilter";

bool IsControlChar(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

bool IsAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Text and selection of an edit; selLength 0 means the caret at selStart.
void EditState(const QObject* edit, QString& text, int& selStart, int& selLength) {
    text.clear();
    selStart = selLength = 0;
    if (auto* le = qobject_cast<const QLineEdit*>(edit)) {
        text = le->text();
        if (le->hasSelectedText()) {
            selStart = le->selectionStart();
            selLength = le->selectionLength();
        } else {
            selStart = le->cursorPosition();
        }
        return;
    }
    QTextCursor cursor;
    if (auto* pe = qobject_cast<const QPlainTextEdit*>(edit)) {
        text = pe->toPlainText();
        cursor = pe->textCursor();
    } else if (auto* te = qobject_cast<const QTextEdit*>(edit)) {
        text = te->toPlainText();
        cursor = te->textCursor();
    } else {
        return;
    }
    selStart = cursor.selectionStart();
    selLength = cursor.selectionEnd() - selStart;
}

} // namespace

bool BriskTypesText(const QString& text) {
    for (QChar c : text)
        if (!IsControlChar(c)) return true;
    return false;
}

namespace {

bool IsEdit(const QObject* o) {
    return qobject_cast<const QLineEdit*>(o) || qobject_cast<const QPlainTextEdit*>(o) ||
           qobject_cast<const QTextEdit*>(o);
}

bool IsReadOnly(const QObject* o) {
    if (auto* le = qobject_cast<const QLineEdit*>(o)) return le->isReadOnly();
    if (auto* pe = qobject_cast<const QPlainTextEdit*>(o)) return pe->isReadOnly();
    if (auto* te = qobject_cast<const QTextEdit*>(o)) return te->isReadOnly();
    return true;
}

// Types `text` into the edit as the user would: over the selection, one undo
// step.
void InsertText(QObject* o, const QString& text) {
    if (auto* le = qobject_cast<QLineEdit*>(o))
        le->insert(text);
    else if (auto* pe = qobject_cast<QPlainTextEdit*>(o))
        pe->insertPlainText(text);
    else if (auto* te = qobject_cast<QTextEdit*>(o))
        te->insertPlainText(text);
}

} // namespace

QChar BriskFilterFloatPosChar(const QString& text, int selStart, int selLength, QChar c,
                              QChar decSep) {
    if (IsControlChar(c) || IsAsciiDigit(c)) return c;
    if (c != decSep && c != QLatin1Char('.')) return QChar();
    // One separator at most: any left outside the replaced selection (a point
    // counts too, whatever put it there) refuses another.
    const int n = int(text.size());
    const int selEnd = qBound(0, selStart + std::max(0, selLength), n);
    selStart = qBound(0, selStart, selEnd);
    for (int i = 0; i < text.size(); ++i) {
        if (i >= selStart && i < selEnd) continue;
        if (text[i] == decSep || text[i] == QLatin1Char('.')) return QChar();
    }
    return decSep;
}

bool BriskAcceptFloatPosChar(const QString& currentText, int cursorPos, QChar c, QChar decSep) {
    return !BriskFilterFloatPosChar(currentText, cursorPos, 0, c, decSep).isNull();
}

bool BriskAcceptIntPosChar(QChar c) {
    return IsControlChar(c) || IsAsciiDigit(c);
}

void TBriskEditEvents::FloatPos(QObject* sender, QChar& key) {
    QString text;
    int selStart, selLength;
    EditState(sender, text, selStart, selLength);
    key = BriskFilterFloatPosChar(text, selStart, selLength, key,
                                  QLatin1Char(FormatSettings.DecimalSeparator));
}

void TBriskEditEvents::IntPos(QObject*, QChar& key) {
    if (!BriskAcceptIntPosChar(key)) key = QChar();
}

bool TBriskEditEvents::Attach(QWidget* edit, TBriskKeyFilter filter) {
    if (!edit || !IsEdit(edit)) return false;
    edit->removeEventFilter(this);
    if (filter == TBriskKeyFilter::None) {
        edit->setProperty(kFilterProperty, QVariant());
        return true;
    }
    edit->setProperty(kFilterProperty, int(filter));
    edit->installEventFilter(this);
    return true;
}

TBriskKeyFilter TBriskEditEvents::AttachedFilter(const QObject* edit) {
    if (!edit) return TBriskKeyFilter::None;
    const QVariant v = edit->property(kFilterProperty);
    if (!v.isValid()) return TBriskKeyFilter::None;
    const int f = v.toInt();
    return f == int(TBriskKeyFilter::FloatPos) || f == int(TBriskKeyFilter::IntPos)
               ? TBriskKeyFilter(f)
               : TBriskKeyFilter::None;
}

bool TBriskEditEvents::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const TBriskKeyFilter filter = AttachedFilter(watched);
    if (filter == TBriskKeyFilter::None) return false;
    auto* ke = static_cast<QKeyEvent*>(event);
    const QString typed = ke->text();
    const Qt::KeyboardModifiers mods = ke->modifiers();
    if (mods & (Qt::AltModifier | Qt::MetaModifier)) {
        // A key with Alt or Meta (Ctrl+Alt included) that reached the edit
        // matched no shortcut: the edit would type its character, which is
        // refused whatever it is. Keys that type nothing pass.
        return BriskTypesText(typed);
    }
    if (mods & Qt::ControlModifier) return false; // the edit's own shortcuts type nothing
    if (typed.isEmpty() || (typed.size() == 1 && IsControlChar(typed[0])))
        return false; // navigation and editing keys

    auto apply = [&](QChar& k) {
        if (filter == TBriskKeyFilter::FloatPos)
            FloatPos(watched, k);
        else
            IntPos(watched, k);
    };
    if (typed.size() == 1) {
        QChar k = typed[0];
        apply(k);
        if (k == typed[0]) return false; // let the edit take the key itself
        if (!k.isNull() && !IsReadOnly(watched)) InsertText(watched, QString(k));
        return true;
    }
    // Several characters in one event (input methods, auto-repeat
    // compression): each is judged against the text the earlier ones left.
    if (IsReadOnly(watched)) return true;
    for (QChar c : typed) {
        QChar k = c;
        apply(k);
        if (!k.isNull() && !IsControlChar(k)) InsertText(watched, QString(k));
    }
    return true;
}

TBriskEditEvents* BriskGetEditEvents() {
    static TBriskEditEvents events;
    return &events;
}
