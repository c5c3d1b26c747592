#include "alphaform.h"
#include "anchorengine.h"
#include "briskutil.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QShowEvent>
#include <exception>

namespace {

// Runs a form hook; an exception must not unwind through Qt's event loop.
template <class F> void GuardHook(const char* hook, const QObject* form, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        qCritical("%s of %s failed: %s", hook, qPrintable(form->objectName()), e.what());
    } catch (...) {
        qCritical("%s of %s failed", hook, qPrintable(form->objectName()));
    }
}

QWidget* OwnerFor(QWidget* owner, unsigned flags) {
    return (flags & AF_OWNED) ? owner : nullptr;
}

} // namespace

TAlphaForm::TAlphaForm(QWidget* owner, unsigned flags)
    : QDialog(OwnerFor(owner, flags)), flags_(flags),
      anchors_(std::make_unique<BriskAnchorEngine>(this)) {
    ApplyFlags();
}

TAlphaForm::~TAlphaForm() {
    // Children die after this body (in ~QWidget); the engine goes first so
    // that their destruction no longer reaches it.
    anchors_.reset();
}

void TAlphaForm::ApplyFlags() {
    Qt::WindowFlags wf = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (flags_ & AF_SYSMENU) wf |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (flags_ & AF_MINIMIZEBOX) wf |= Qt::WindowMinimizeButtonHint;
    if ((flags_ & AF_MAXIMIZEBOX) && (flags_ & AF_SIZEABLE)) wf |= Qt::WindowMaximizeButtonHint;
    if (!(flags_ & AF_SIZEABLE)) wf |= Qt::MSWindowsFixedSizeDialogHint;
    if (windowFlags() != wf) setWindowFlags(wf);
    if (flags_ & AF_MODAL)
        setWindowModality(Qt::ApplicationModal);
    else if (flags_ & AF_MODELESS)
        setWindowModality(Qt::NonModal);
}

void TAlphaForm::LoadForm() {
    ApplyFlags();
    designSize_ = size();
    if (!(flags_ & AF_SIZEABLE)) setFixedSize(designSize_);
    anchors_->Load();
    loaded_ = true;
}

void TAlphaForm::Show() {
    if (!loaded_) LoadForm();
    if (windowState() & Qt::WindowMinimized) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

int TAlphaForm::ShowModal() {
    if (!loaded_) LoadForm();
    // A visible modeless window cannot turn modal in place.
    if (isVisible()) hide();
    return exec();
}

void TAlphaForm::SetButtonModalResult(QAbstractButton* button, int result) {
    if (!button) return;
    connect(button, &QAbstractButton::clicked, this, [this, result] { done(result); });
}

void TAlphaForm::reject() {
    done(MR_CANCEL);
}

void TAlphaForm::SetMinSize(int width, int height) {
    setMinimumSize(width, height);
}

void TAlphaForm::SetMaxSize(int width, int height) {
    setMaximumSize(width, height);
}

void TAlphaForm::SetControlBounds(QWidget* control, int left, int top, int width, int height) {
    if (!control) return;
    anchors_->SetBounds(control, QRect(left, top, width, height));
}

void TAlphaForm::AnchorsRebase(QWidget* control) {
    if (control) anchors_->Rebase(control);
}

void TAlphaForm::SetAnchors(QWidget* control, unsigned anchors) {
    if (control) anchors_->SetAnchors(control, anchors);
}

unsigned TAlphaForm::Anchors(const QWidget* control) const {
    return anchors_->Anchors(control);
}

void TAlphaForm::Realign() {
    anchors_->ArrangeAll();
}

void TAlphaForm::DoDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    GuardHook("OnFormDestroy", this, [this] { OnFormDestroy(); });
}

void TAlphaForm::Release() {
    DoDestroy();
    delete this;
}

void TAlphaForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return; // restored from minimised: not a new show
    if (!loaded_) LoadForm();
    if (!shownOnce_) {
        shownOnce_ = true;
        if ((flags_ & AF_OWNED) && parentWidget() && !testAttribute(Qt::WA_Moved))
            BriskCenterDialog(this, parentWidget()->window());
    }
    GuardHook("OnFormShow", this, [this] { OnFormShow(); });
}

void TAlphaForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    anchors_->ArrangeAll();
    GuardHook("OnFormResize", this, [this] { OnFormResize(); });
}

void TAlphaForm::keyPressEvent(QKeyEvent* event) {
    if ((flags_ & AF_MODELESS) && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->ignore();
            return;
        default:
            break;
        }
    }
    QDialog::keyPressEvent(event);
}
