#pragma once
// The host's text-command interpreter. One command per call, one line of
// text; the answer is a result code (0 = success) and a text. It has no
// window of its own: the windowed parts sit behind HostUi.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "command_result.h"
#include "host_ui.h"

class DbEngines;

// A dialog a plug-in registered: its name, the address of the plug-in's
// variable that holds the dialog object (null until first shown), the show
// function, and the module that function lives in.
struct RegisteredDialog {
    std::string name;
    void* variable = nullptr;
    std::function<void()> show;
    const void* module = nullptr;
};

// Result codes of the interpreter itself; the engines add their own.
enum HostCode {
    HC_OK = 0,
    HC_UNKNOWN_COMMAND = 1,
    HC_BAD_SYNTAX = 2,
    HC_UNKNOWN_SETTING = 3,
    HC_CLIPBOARD = 4,
    HC_UNKNOWN_DIALOG = 5,
    HC_NOT_AVAILABLE = 6,
};

class CommandInterpreter {
public:
    struct Config {
        std::string language; // answer of "Get PrfLang"
        std::string dataDir;  // answer of "Get DataDir", ending with '/'
        std::string hostDir;
    };

    CommandInterpreter(Config config, HostUi* ui);
    ~CommandInterpreter();

    CommandResult execute(const std::string& line);

    // Dialogs that plug-ins registered, shown by "ShowDialog <name>". A name
    // registered again replaces the earlier registration.
    void registerDialog(RegisteredDialog dialog);
    // Forgets every dialog whose show function lives in module: the module
    // is about to be unloaded, and a call into it would crash.
    void forgetDialogsOf(const void* module);
    // The registration of name (compared ignoring case), or null.
    const RegisteredDialog* dialog(const std::string& name) const;
    // The dialog object the plug-in's variable holds now, or null.
    void* dialogObject(const std::string& name) const;

    const Config& config() const { return config_; }

    // Parsing helpers, public for the tests.
    // Text between the first and the last double quote of s; false without two quotes.
    static bool outerQuoted(const std::string& s, std::string& text);
    // "text" "title" flags, with quotes allowed inside the text and the
    // title: the two are parted at the last quote, blank, quote before the
    // title's closing quote.
    static bool parseMessageBox(const std::string& args, std::string& text, std::string& title,
                                int& flags);

private:
    CommandResult get(const std::string& args);
    CommandResult cursor(const std::string& args);
    CommandResult messageBox(const std::string& args);
    CommandResult copyText(const std::string& args);
    CommandResult showDialog(const std::string& args);

    Config config_;
    HostUi* ui_;
    std::map<std::string, RegisteredDialog> dialogs_;
    std::unique_ptr<DbEngines> db_;
};
