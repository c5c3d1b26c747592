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

    // Dialogs that plug-ins registered, shown by "ShowDialog <name>".
    void registerDialog(const std::string& name, std::function<void()> show);

    const Config& config() const { return config_; }

    // Parsing helpers, public for the tests.
    // Text between the first and the last double quote of s; false without two quotes.
    static bool outerQuoted(const std::string& s, std::string& text);
    // "text" "title" flags, with quotes allowed inside text.
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
    std::map<std::string, std::function<void()>> dialogs_;
    std::unique_ptr<DbEngines> db_;
};
