#pragma once
// Keystroke filters for numeric edit fields.
//
// FloatPos lets through what a positive real number is typed with: the
// digits 0-9 and one decimal separator (FormatSettings.DecimalSeparator).
// A point typed where the separator is the comma is taken as the separator
// (the numeric keypad and the machine texts use the point); a comma where the
// separator is the point is refused, as is a second separator. IntPos lets
// through the digits only. Signs, exponents, letters and blanks are refused.
// Control characters (Backspace, Tab, Return, Escape, Delete) always pass, and
// so do keys without text (arrows, Home, End) and keys with Ctrl alone (the
// edit's shortcuts: Ctrl+C, Ctrl+V, Ctrl+X, Ctrl+A, Ctrl+Z), which type
// nothing. A key with Alt or Meta (Ctrl+Alt too) that types a character is
// refused, digits included: it reaches the edit only when it matched no
// shortcut. AltGr, which the X keyboard reports without Alt, is ordinary
// typing and goes through the filter as the character it types.
#include "brisk_export.h"

#include <QChar>
#include <QObject>
#include <QString>

class QWidget;

enum class TBriskKeyFilter { None = 0, FloatPos = 1, IntPos = 2 };

// The character that FloatPos lets reach a field holding `text` whose
// selection [selStart, selStart + selLength) the key replaces (selLength 0:
// the caret is at selStart): `c` itself, `decSep` for a point, or a null
// QChar when the key is refused.
BRISK_API QChar BriskFilterFloatPosChar(const QString& text, int selStart, int selLength, QChar c,
                                        QChar decSep);
// True when FloatPos lets `c` (or the separator it stands for) through at the
// caret position `cursorPos` of `currentText`.
BRISK_API bool BriskAcceptFloatPosChar(const QString& currentText, int cursorPos, QChar c,
                                       QChar decSep);
// True when IntPos lets `c` through.
BRISK_API bool BriskAcceptIntPosChar(QChar c);
// True when a key's text holds a character that is no control character.
BRISK_API bool BriskTypesText(const QString& text);

class BRISK_API TBriskEditEvents : public QObject {
  public:
    // OnKeyPress handlers. `sender` is the edit the key is meant for
    // (QLineEdit, QPlainTextEdit or QTextEdit; its text and selection decide
    // about a second separator) or null. `key` is set to 0 when the key is
    // refused, and to the decimal separator when a point stands for it.
    void FloatPos(QObject* sender, QChar& key);
    void IntPos(QObject* sender, QChar& key);

    // Makes `filter` the keystroke filter of `edit` (a QLineEdit,
    // QPlainTextEdit or QTextEdit); TBriskKeyFilter::None removes it.
    // Returns false, attaching nothing, for any other widget.
    bool Attach(QWidget* edit, TBriskKeyFilter filter);
    static TBriskKeyFilter AttachedFilter(const QObject* edit);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The one shared instance (created on first use, lives until the process ends).
BRISK_API TBriskEditEvents* BriskGetEditEvents();
