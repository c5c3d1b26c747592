#include "qt_host_ui.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

namespace {

// Windows-style button ids, as plug-ins expect them in the answer.
enum { ID_OK = 1, ID_CANCEL, ID_ABORT, ID_RETRY, ID_IGNORE, ID_YES, ID_NO };

QMessageBox::Icon iconOf(int flags) {
    switch (flags & 0xF0) {
    case 16: return QMessageBox::Critical;
    case 32: return QMessageBox::Question;
    case 48: return QMessageBox::Warning;
    case 64: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

bool copyToClipboard(const std::string& text) {
    QClipboard* cb = QGuiApplication::clipboard();
    if (!cb) return false;
    cb->setText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    return true;
}

} // namespace

QtHostUi::~QtHostUi() {
    if (busy_) QApplication::restoreOverrideCursor();
}

void QtHostUi::setBusy(bool busy) {
    if (busy == busy_) return;
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
    busy_ = busy;
}

int QtHostUi::messageBox(const std::string& text, const std::string& title, int flags) {
    QMessageBox box(iconOf(flags), QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::NoButton, parent_);
    struct B { QMessageBox::StandardButton b; int id; };
    std::vector<B> buttons;
    switch (flags & 0xF) {
    case 1: buttons = {{QMessageBox::Ok, ID_OK}, {QMessageBox::Cancel, ID_CANCEL}}; break;
    case 2: buttons = {{QMessageBox::Abort, ID_ABORT}, {QMessageBox::Retry, ID_RETRY}, {QMessageBox::Ignore, ID_IGNORE}}; break;
    case 3: buttons = {{QMessageBox::Yes, ID_YES}, {QMessageBox::No, ID_NO}, {QMessageBox::Cancel, ID_CANCEL}}; break;
    case 4: buttons = {{QMessageBox::Yes, ID_YES}, {QMessageBox::No, ID_NO}}; break;
    case 5: buttons = {{QMessageBox::Retry, ID_RETRY}, {QMessageBox::Cancel, ID_CANCEL}}; break;
    default: buttons = {{QMessageBox::Ok, ID_OK}}; break;
    }
    for (const B& b : buttons) box.addButton(b.b);
    box.setDefaultButton(buttons.front().b);
    // The window's close button counts as Cancel where there is one, else as the default.
    const bool hasCancel = std::any_of(buttons.begin(), buttons.end(),
                                       [](const B& b) { return b.id == ID_CANCEL; });
    const int pressed = box.exec();
    for (const B& b : buttons)
        if (pressed == b.b) return b.id;
    return hasCancel ? ID_CANCEL : buttons.front().id;
}

bool QtHostUi::copyText(const std::string& text) { return copyToClipboard(text); }

void QtHostUi::showMolecule(const WorkspaceMolecule& molecule) {
    if (onShowMolecule) onShowMolecule(molecule);
}

int ConsoleHostUi::messageBox(const std::string& text, const std::string& title, int) {
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), text.c_str());
    return ID_OK;
}

bool ConsoleHostUi::copyText(const std::string& text) { return copyToClipboard(text); }

void ConsoleHostUi::showMolecule(const WorkspaceMolecule& m) {
    std::printf("molecule %lld: %s %s %.6f %s\n", m.id, m.name.c_str(), m.formula.c_str(), m.mass,
                m.smiles.c_str());
}
