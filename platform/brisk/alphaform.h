#pragma once
// TAlphaForm: base class of the dialogs. A form is designed in a .ui file with
// absolutely positioned controls (no Qt layouts); the base class gives it the
// window behaviour chosen by its flag value and keeps the controls in place
// with VCL-style anchors when the form changes size.
//
// A derived dialog sets itself up like this:
//
//     TDlgX::TDlgX(QWidget* owner) : TAlphaForm(owner, AF_DIALOG) {
//         ui.setupUi(this);   // controls and design geometry from the .ui
//         LoadForm();         // flags applied, design geometry recorded
//         ...                 // texts, limits, connections
//     }
//     TDlgX::~TDlgX() { DoDestroy(); ... }
//
// Anchors: every control may carry the dynamic property "anchors", a list of
// "left", "top", "right", "bottom" separated by commas or blanks (Designer:
// <property name="anchors" stdset="0"><string>left,top,right</string></property>);
// without it a control is anchored "left,top". When its parent changes size a
// control keeps the design distances to the edges it is anchored to: left and
// right anchored, its width follows the parent; right only, it moves with the
// right edge; neither, its centre keeps its relative place in the parent. The
// same holds vertically with top and bottom. Positions are always computed
// from the recorded design geometry and the parent's present size, so no
// number of resizes makes them drift.
//
// Order on a resize of the form: the form's direct children are placed, then
// their children, recursively; then OnFormResize() runs. A control that code
// moves must be moved with SetControlBounds() (or re-recorded with
// AnchorsRebase() after a setGeometry()), which records its new distances to
// its parent's present edges and places its own children again.
//
// Containers whose size Qt manages (the pages of a QTabWidget) anchor their
// controls to the page size the tab widget gives them at its design size.
#include "brisk_export.h"

#include <QDialog>
#include <QRect>
#include <memory>

class QAbstractButton;
class BriskAnchorEngine;

// Form flags (the constructor's flag value).
enum : unsigned {
    // Title bar with the window menu and a close button.
    AF_SYSMENU = 0x0001,
    // The user can resize the form; without it the form keeps its design size
    // (minimum = maximum = design size).
    AF_SIZEABLE = 0x0002,
    // Application-modal dialog: while it is shown no other window of the
    // application takes input. ShowModal() is its normal way to be shown.
    AF_MODAL = 0x0004,
    // Minimise button in the title bar.
    AF_MINIMIZEBOX = 0x0008,
    // Maximise button in the title bar (only together with AF_SIZEABLE).
    AF_MAXIMIZEBOX = 0x0100,
    // Modeless working window: Show() never blocks, and Escape and Return do
    // not close it or press a default button (it has no OK or Cancel).
    AF_MODELESS = 0x0200,
    // Owned by the owner's window: the form is a child window of `owner`
    // (stays above it, is deleted with it) and its first show centres it over
    // the owner. Without this flag the owner is ignored and the form is a
    // free top-level window that the caller deletes.
    AF_OWNED = 0x1000,
};

// The two flag values in use.
// 0x130B: resizable modeless working window with minimise and maximise
// buttons, owned by the host window.
constexpr unsigned AF_TOOLWINDOW =
    AF_SYSMENU | AF_SIZEABLE | AF_MINIMIZEBOX | AF_MAXIMIZEBOX | AF_MODELESS | AF_OWNED;
// 0x1005: fixed-size modal dialog owned by the host window.
constexpr unsigned AF_DIALOG = AF_SYSMENU | AF_MODAL | AF_OWNED;
static_assert(AF_TOOLWINDOW == 0x130B && AF_DIALOG == 0x1005, "form flag values");

// Anchor bits, as BriskParseAnchors returns them.
enum : unsigned {
    AK_LEFT = 0x1,
    AK_TOP = 0x2,
    AK_RIGHT = 0x4,
    AK_BOTTOM = 0x8,
    AK_DEFAULT = AK_LEFT | AK_TOP,
    AK_ALL = AK_LEFT | AK_TOP | AK_RIGHT | AK_BOTTOM,
};

// Modal results, as ShowModal() returns them.
enum : int { MR_NONE = 0, MR_OK = 1, MR_CANCEL = 2 };

// Parses an "anchors" value ("left,top,right", "akLeft|akTop", ...; case and
// the prefix "ak" do not matter). Unknown words are ignored. An empty text
// means no anchor at all (the control keeps its relative centre).
BRISK_API unsigned BriskParseAnchors(const QString& text);

// Where a control designed at `design` inside a parent of size `designParent`
// lies when the parent has size `parent`, anchored by `anchors`. Widths and
// heights never go below 0.
BRISK_API QRect BriskAnchorPlace(const QRect& design, const QSize& designParent,
                                 const QSize& parent, unsigned anchors);

class BRISK_API TAlphaForm : public QDialog {
    Q_OBJECT

  public:
    // owner: the owning window (the host window), may be null. flags: AF_*.
    TAlphaForm(QWidget* owner, unsigned flags);
    ~TAlphaForm() override;

    // Completes the form after setupUi(): takes the design size from the
    // form's present size, applies the flags (fixed size, modality, frame
    // buttons) and records the design geometry and anchors of every control.
    // Called again, it records the present geometry as the new design.
    void LoadForm();

    unsigned Flags() const { return flags_; }
    // The form's size when LoadForm() ran.
    QSize DesignSize() const { return designSize_; }

    // Shows the form modelessly, brings it to the front and activates it; a
    // minimised form is restored.
    void Show();
    // Shows the form modally and returns its modal result: MR_OK (1) when
    // accepted, MR_CANCEL (2) when rejected or closed by the window frame,
    // or the value given to done() / a button's modal result.
    int ShowModal();
    // A click on `button` closes the form with `result` (VCL ModalResult).
    void SetButtonModalResult(QAbstractButton* button, int result);

    // Size limits of the form (client area).
    void SetMinSize(int width, int height);
    void SetMaxSize(int width, int height);

    // Moves a control and records its new anchor distances relative to its
    // parent's present size; the control's children are placed again.
    void SetControlBounds(QWidget* control, int left, int top, int width, int height);
    // Records a control's present geometry as its anchor baseline (after code
    // moved it with setGeometry()); its children are placed again.
    void AnchorsRebase(QWidget* control);
    // Gives a control (also one created by code after LoadForm) the anchors
    // `anchors` (AK_*), with its present geometry as baseline.
    void SetAnchors(QWidget* control, unsigned anchors);
    // The anchors of a control; AK_DEFAULT when it is not anchored.
    unsigned Anchors(const QWidget* control) const;
    // Places every control for the form's present size (resize events do
    // this by themselves; useful while the form is hidden).
    void Realign();

    // Runs OnFormDestroy() once. A derived class that overrides
    // OnFormDestroy() must call this first thing in its destructor: a
    // virtual called from the base destructor would no longer reach it.
    void DoDestroy();
    // DoDestroy(), then deletes the form.
    void Release();

  protected:
    // Hooks. OnFormShow runs on every (non-spontaneous) show, before the
    // window appears; OnFormResize after the anchors placed the controls for
    // a new size (also on the first show); OnFormDestroy from DoDestroy(),
    // while every control still exists. Exceptions do not leave the hooks:
    // they are caught and logged.
    virtual void OnFormShow() {}
    virtual void OnFormResize() {}
    virtual void OnFormDestroy() {}

    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  public Q_SLOTS:
    // Closes with MR_CANCEL (2), as VCL does; accept() gives MR_OK (1).
    void reject() override;

  private:
    void ApplyFlags();

    unsigned flags_;
    QSize designSize_;
    bool loaded_ = false;
    bool shownOnce_ = false;
    bool destroyed_ = false;
    std::unique_ptr<BriskAnchorEngine> anchors_;
};
