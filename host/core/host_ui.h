#pragma once
// What the interpreter needs of the windowed host: the application's cursor,
// message boxes, the clipboard and the workspace. Tests and the headless
// --exec mode put their own implementation behind it.
#include <string>

struct WorkspaceMolecule {
    long long id = 0;
    double mass = 0;
    std::string formula, name, smiles, database;
};

class HostUi {
public:
    virtual ~HostUi() = default;
    virtual void setBusy(bool busy) = 0;
    // Shows a message box with the Windows-style flags (low nibble: buttons,
    // 16 error, 32 question, 48 warning, 64 information); returns the id of
    // the button pressed (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No).
    virtual int messageBox(const std::string& text, const std::string& title, int flags) = 0;
    virtual bool copyText(const std::string& text) = 0;
    virtual void showMolecule(const WorkspaceMolecule& molecule) = 0;
};
