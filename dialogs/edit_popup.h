#pragma once
// The localised edit menu shared by the main dialog's text fields (Undo, Cut,
// Copy, Paste, Delete, Select all). Its Paste filters the clipboard text by
// flags kept with each field, so numeric fields receive only what fits them.
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <vector>

class QAction;
class QKeyEvent;
class QKeySequence;
class QDropEvent;
class QEvent;
class QMenu;
class QMimeData;
class QMouseEvent;
class QShortcut;
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
    // widget, or null, is ignored. The menu's shortcuts become the field's
    // own: they run before any key filter of the field sees the key (a
    // disabled item's key does nothing). Text dropped on the field or pasted
    // with the middle button (X11 selection) goes through the same filter as
    // Paste.
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
    using Handler = void (TEditPopup::*)();
    QAction* addItem(int stringId, const QKeySequence& key, Handler handler);
    // The registered field that `watched` is, or whose viewport it is; null otherwise.
    QWidget* fieldOf(QObject* watched) const;
    // The item whose shortcut the key is, or null.
    QAction* itemForKey(const QKeyEvent* key) const;
    // Runs an item for a field as its shortcut does: when the field's state
    // enables it.
    void runShortcut(QWidget* field, QAction* item);
    bool dragFilter(QWidget* field, QObject* watched, QEvent* event);
    bool middleButtonPaste(QWidget* field, QMouseEvent* event);

    struct Item {
        QAction* action;
        Handler handler;
    };
    std::vector<Item> items_;
    std::vector<QPointer<QWidget>> fields_;
    std::vector<QPointer<QShortcut>> shortcuts_;
    // The drag whose text was last judged, and whether the field takes it.
    const QMimeData* dragData_ = nullptr;
    bool dragTakes_ = false;
    bool forwardingDrop_ = false;

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
