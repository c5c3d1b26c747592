#include "interpreter.h"

#include <cctype>
#include <charconv>

#include "db_engines.h"
#include "isodist.h"

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Splits "Verb rest" at the first blank.
void splitVerb(const std::string& line, std::string& verb, std::string& rest) {
    std::string t = trim(line);
    size_t sp = t.find_first_of(" \t");
    verb = lower(t.substr(0, sp));
    rest = sp == std::string::npos ? std::string() : trim(t.substr(sp));
}

} // namespace

CommandInterpreter::CommandInterpreter(Config config, HostUi* ui)
    : config_(std::move(config)), ui_(ui), db_(std::make_unique<DbEngines>()) {
    db_->onLoadMolecule = [this](const DbEngines::Molecule& m) {
        if (!ui_) return;
        WorkspaceMolecule w;
        w.id = m.id;
        w.mass = m.mass;
        w.formula = m.formula;
        w.name = m.name;
        w.smiles = m.smiles;
        ui_->showMolecule(w);
    };
}

CommandInterpreter::~CommandInterpreter() { db_->closeAll(); }

void CommandInterpreter::registerDialog(RegisteredDialog dialog) {
    const std::string key = lower(dialog.name);
    dialogs_[key] = std::move(dialog);
}

void CommandInterpreter::forgetDialogsOf(const void* module) {
    for (auto it = dialogs_.begin(); it != dialogs_.end();)
        it = it->second.module == module ? dialogs_.erase(it) : std::next(it);
}

const RegisteredDialog* CommandInterpreter::dialog(const std::string& name) const {
    auto it = dialogs_.find(lower(name));
    return it == dialogs_.end() ? nullptr : &it->second;
}

void* CommandInterpreter::dialogObject(const std::string& name) const {
    const RegisteredDialog* d = dialog(name);
    return d && d->variable ? *static_cast<void* const*>(d->variable) : nullptr;
}

CommandResult CommandInterpreter::execute(const std::string& line) {
    std::string verb, args;
    splitVerb(line, verb, args);
    if (verb.empty()) return CommandResult::fail(HC_BAD_SYNTAX, "Empty command");
    if (verb == "get") return get(args);
    if (verb == "cursor") return cursor(args);
    if (verb == "messagebox") return messageBox(args);
    if (verb == "copytext") return copyText(args);
    if (verb == "showdialog") return showDialog(args);
    if (verb == "dbopen") return db_->dbOpen(args);
    if (verb == "dbinfo") return db_->dbInfo(args);
    if (verb == "dbsqlexec") return db_->dbSqlExec(args);
    if (verb == "dbclose") return db_->dbClose(args);
    if (verb == "dbgetrowid") return db_->dbGetRowId(args);
    if (verb == "isodist") return tvchem::isoDistCommand(args);
    size_t sp = trim(line).find_first_of(" \t");
    return CommandResult::fail(HC_UNKNOWN_COMMAND,
                               "Unknown command: " + trim(line).substr(0, sp));
}

CommandResult CommandInterpreter::get(const std::string& args) {
    const std::string what = lower(args);
    if (what == "prflang") return CommandResult::ok(config_.language);
    if (what == "datadir") return CommandResult::ok(config_.dataDir);
    if (what == "hostdir") return CommandResult::ok(config_.hostDir);
    return CommandResult::fail(HC_UNKNOWN_SETTING,
                               "Unknown setting: " + args + " (known: PrfLang, DataDir, HostDir)");
}

CommandResult CommandInterpreter::cursor(const std::string& args) {
    const std::string what = lower(args);
    if (what != "busy" && what != "default")
        return CommandResult::fail(HC_BAD_SYNTAX, "Cursor takes Busy or Default, not: " + args);
    if (ui_) ui_->setBusy(what == "busy");
    return CommandResult::ok();
}

bool CommandInterpreter::outerQuoted(const std::string& s, std::string& text) {
    size_t first = s.find('"');
    size_t last = s.rfind('"');
    if (first == std::string::npos || last == first) return false;
    text = s.substr(first + 1, last - first - 1);
    return true;
}

bool CommandInterpreter::parseMessageBox(const std::string& args, std::string& text,
                                         std::string& title, int& flags) {
    std::string t = trim(args);
    // Flags are the last word; the title is the last quoted pair before it;
    // the text is everything between the first quote and the title's.
    size_t sp = t.find_last_of(" \t");
    if (sp == std::string::npos) return false;
    const std::string flagText = t.substr(sp + 1);
    auto [p, ec] = std::from_chars(flagText.data(), flagText.data() + flagText.size(), flags);
    if (ec != std::errc() || p != flagText.data() + flagText.size()) return false;
    std::string head = trim(t.substr(0, sp));
    if (head.size() < 4 || head.back() != '"') return false;
    // The text and the title may both hold quotes; what parts them is the
    // last quote, blanks, quote before the title's closing quote.
    size_t first = head.find('"');
    for (size_t open = head.size() - 1; open-- > first + 1;) {
        if (head[open] != '"' || !(head[open - 1] == ' ' || head[open - 1] == '\t')) continue;
        size_t close = open - 1;
        while (close > first && (head[close] == ' ' || head[close] == '\t')) --close;
        if (close == first || head[close] != '"') continue;
        text = head.substr(first + 1, close - first - 1);
        title = head.substr(open + 1, head.size() - open - 2);
        return true;
    }
    return false;
}

CommandResult CommandInterpreter::messageBox(const std::string& args) {
    std::string text, title;
    int flags = 0;
    if (!parseMessageBox(args, text, title, flags))
        return CommandResult::fail(HC_BAD_SYNTAX,
                                   "messagebox takes \"text\" \"title\" flags, not: " + args);
    int button = ui_ ? ui_->messageBox(text, title, flags) : 1;
    return CommandResult::ok(std::to_string(button));
}

CommandResult CommandInterpreter::copyText(const std::string& args) {
    std::string text;
    if (!outerQuoted(args, text))
        return CommandResult::fail(HC_BAD_SYNTAX, "CopyText takes a quoted text");
    if (!ui_ || !ui_->copyText(text))
        return CommandResult::fail(HC_CLIPBOARD, "The clipboard is not available");
    return CommandResult::ok();
}

CommandResult CommandInterpreter::showDialog(const std::string& args) {
    auto it = dialogs_.find(lower(args));
    if (it == dialogs_.end()) return CommandResult::fail(HC_UNKNOWN_DIALOG, "No dialog named " + args);
    it->second.show();
    return CommandResult::ok();
}
