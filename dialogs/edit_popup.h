#pragma once
// The localised edit menu shared by the main dialog's text fields (Undo, Cut,
// Copy, Paste, Delete, Select all). Its Paste filters the clipboard text by
// flags kept with each field, so numeric fields receive only what fits them.
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

class QAction;
class QMenu;
class QWidget;

enum : uint32_t {
    EP_NOSIGN = 0x01,    // + and - are dropped
    EP_KEEPSPACE = 0x02, // blanks and line breaks stay; otherwise the first ends the text
    EP_RAW = 0x10,       // pasted unfiltered
    EP_DECSEP = 0x20,    // a point or the decimal separator becomes the decimal separator
    EP_NODECSEP = 0x40,  // a point or the decimal separator is dropped
};

// The dynamic property of a field that holds its paste flags.
constexpr const char* EditPopupFlagsProperty = "editPopupFlags";

// Filters text for a field with the given flags; decSep is the user's
// decimal separator. Returns the text to paste (empty: paste nothing).
// With flags 0 or EP_RAW the text is returned unchanged.
QString EditPopupFilter(const QString& text, uint32_t flags, QChar decSep);

class TEditPopup : public QObject {
    Q_OBJECT
public:
    TEditPopup();
    ~TEditPopup() override;

    // Registers a single-line edit or a memo with its paste flags; any other
    // widget, or null, is ignored.
    void SetPopup(QWidget* control, int flags);

    QMenu* Menu() const { return popup; }
    // The field the commands act on: the one the menu was opened for, else
    // the focused one.
    QWidget* Target() const;
    // Makes field the one the commands act on (the context menu does this
    // while it is open); null goes back to the focused field.
    void SetTarget(QWidget* field) { target_ = field; }

    void PopupEvent();
    void UndoClick();
    void CutClick();
    void CopyClick();
    void PasteClick();
    void ClearClick();
    void SelectClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* addItem(int stringId, const QKeySequence& key, void (TEditPopup::*handler)());

    QMenu* popup = nullptr;
    QAction* DeleteItem = nullptr;
    QAction* CopyItem = nullptr;
    QAction* CutItem = nullptr;
    QAction* PasteItem = nullptr;
    QAction* SelectAllItem = nullptr;
    QAction* UndoItem = nullptr;
    QPointer<QWidget> target_;
};

// The one edit menu while the main dialog exists.
extern TEditPopup* PM_Edit;
