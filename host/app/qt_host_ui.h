#pragma once
// The windowed host's side of the interpreter: the application cursor, real
// message boxes, the system clipboard and the workspace.
#include <functional>

#include "host_ui.h"

class QWidget;

class QtHostUi : public HostUi {
public:
    explicit QtHostUi(QWidget* parent) : parent_(parent) {}
    ~QtHostUi() override;

    void setBusy(bool busy) override;
    int messageBox(const std::string& text, const std::string& title, int flags) override;
    bool copyText(const std::string& text) override;
    void showMolecule(const WorkspaceMolecule& molecule) override;

    std::function<void(const WorkspaceMolecule&)> onShowMolecule;

private:
    QWidget* parent_;
    bool busy_ = false;
};

// For --exec: no window; message boxes go to standard error and answer OK.
class ConsoleHostUi : public HostUi {
public:
    void setBusy(bool) override {}
    int messageBox(const std::string& text, const std::string& title, int flags) override;
    bool copyText(const std::string& text) override;
    void showMolecule(const WorkspaceMolecule& molecule) override;
};
