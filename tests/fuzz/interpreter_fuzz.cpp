// Fuzz target: the host's text-command interpreter, for the commands that open no window
// (Get, Cursor, messagebox and CopyText through a recording stand-in for the windows,
// ShowDialog, the database commands on fixture files, IsoDist).
//
// Input: up to 16 command lines, run in order on one interpreter. "DbOpen" reaches only
// the fixture folder (the current folder): a path that is absolute or climbs out with ".."
// is not run. SQLite's work per statement and the length of its values are bounded, so a
// statement cannot stall the run or fill the memory (that is SQLite's business, not the
// interpreter's). Properties: no command faults; a failure carries a reason; an answer of
// "DbSqlExec" has the same number of fields on every line; messagebox and CopyText hand the
// windows a part of the command's text.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_input.h"
#include "interpreter.h"

namespace {

struct RecordingUi : HostUi {
    int messageBoxes = 0, copies = 0, molecules = 0;
    std::string lastText, lastTitle;
    void setBusy(bool) override {}
    int messageBox(const std::string& text, const std::string& title, int) override {
        ++messageBoxes;
        lastText = text;
        lastTitle = title;
        return 1;
    }
    bool copyText(const std::string& text) override {
        ++copies;
        lastText = text;
        return true;
    }
    void showMolecule(const WorkspaceMolecule&) override { ++molecules; }
};

long g_steps = 0;

int progress(void*) {
    return ++g_steps > 2000; // about two million virtual machine instructions
}

// Bounds every connection the engines open.
int boundConnection(sqlite3* db, const char**, const void*) {
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, 1 << 16);
    sqlite3_progress_handler(db, 1000, progress, nullptr);
    return SQLITE_OK;
}

void exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "fixture: %s\n", err ? err : "?");
        std::abort();
    }
}

void makeDatabase(const char* path, const char* sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path, &db) != SQLITE_OK) std::abort();
    exec(db, sql);
    sqlite3_close(db);
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return s;
}

bool contains(const std::string& whole, const std::string& part) {
    return whole.find(part) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    namespace fs = std::filesystem;
    const std::string dir = FuzzTempDir() + "/data";
    fs::create_directories(dir + "/Databases/folder.db");
    if (::chdir(dir.c_str()) != 0) std::abort();
    makeDatabase("molecules.db",
                 "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL, Formula TEXT,"
                 " Name TEXT, Smiles TEXT, Extra BLOB);"
                 "INSERT INTO Molecules VALUES(1, 180.063388, 'C6H12O6', 'glucose; D-',"
                 " 'OCC1OC(O)C(O)C(O)C1O', x'00ff3b0a');"
                 "INSERT INTO Molecules VALUES(2, 18.010565, 'H2O', 'water' || char(10) ||"
                 " 'two lines' || char(13), 'O', NULL);"
                 "INSERT INTO Molecules VALUES(3, NULL, NULL, NULL, NULL, NULL);"
                 "INSERT INTO Molecules VALUES(-4, 1e300, 'C', 'big', 'C', x'');"
                 "INSERT INTO Molecules VALUES(9223372036854775807, -0.0, 'H', 'a' || char(0) "
                 "|| 'b', '[H]', 5e-324);"
                 "CREATE INDEX ByMass ON Molecules(MassMI);");
    std::filesystem::copy_file("molecules.db", "Databases/Demo.db");
    makeDatabase("other.db", "CREATE TABLE Other(ID INTEGER);");
    makeDatabase("partial.db", "CREATE TABLE Molecules(ID INTEGER, MassMI REAL);");
    FuzzWriteFile("text.db", "not a database\n");
    FuzzWriteFile("empty.db", "");
    FuzzWriteFile("access.mdb", "Standard Jet DB");
    FuzzWriteFile("server.dsn", "[ODBC]\nDRIVER=PostgreSQL Unicode\n");
    sqlite3_auto_extension(reinterpret_cast<void (*)(void)>(boundConnection));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    FuzzInput in(data, size);
    RecordingUi ui;
    CommandInterpreter::Config config{"english", FuzzTempDir() + "/data/", FuzzTempDir() + "/"};
    CommandInterpreter interpreter(config, &ui);

    for (int n = 0; n < 16 && in.remaining() > 0; ++n) {
        const std::string line = in.until('\n');
        const std::string t = trim(line);
        const size_t sp = t.find_first_of(" \t");
        const std::string verb = lower(t.substr(0, sp));
        const std::string args = sp == std::string::npos ? std::string() : trim(t.substr(sp));
        if (verb == "dbopen") {
            std::string path = args;
            while (!path.empty() && (path[0] == '"' || path[0] == ' ' || path[0] == '\t'))
                path.erase(0, 1);
            if (contains(args, "..") || (!path.empty() && (path[0] == '/' || path[0] == '\\')))
                continue; // outside the fixture folder
        }

        const RecordingUi before = ui;
        g_steps = 0;
        const CommandResult r = interpreter.execute(line);
        if (r.code != 0) {
            FUZZ_CHECK(!r.text.empty(), "\"%s\" failed (%d) without a reason", line.c_str(), r.code);
            FUZZ_CHECK(ui.messageBoxes == before.messageBoxes && ui.copies == before.copies,
                       "a failed command reached the windows");
            continue;
        }
        if (verb == "dbopen") {
            FUZZ_CHECK(r.text.size() > 2 && r.text.compare(0, 2, "DB") == 0 &&
                           r.text.find_first_not_of("0123456789", 2) == std::string::npos,
                       "handle \"%s\"", r.text.c_str());
        } else if (verb == "dbsqlexec" && !r.text.empty()) {
            FUZZ_CHECK(r.text.back() == '\n', "the answer's last row is not closed");
            long fields = -1;
            for (size_t pos = 0; pos < r.text.size();) {
                const size_t eol = r.text.find('\n', pos);
                const long semis = long(std::count(r.text.begin() + long(pos),
                                                   r.text.begin() + long(eol), ';'));
                FUZZ_CHECK(fields < 0 || semis == fields, "rows with %ld and %ld fields",
                           fields + 1, semis + 1);
                fields = semis;
                pos = eol + 1;
            }
        } else if (verb == "messagebox") {
            FUZZ_CHECK(ui.messageBoxes == before.messageBoxes + 1 && r.text == "1");
            FUZZ_CHECK(contains(line, ui.lastText) && contains(line, ui.lastTitle));
        } else if (verb == "copytext") {
            FUZZ_CHECK(ui.copies == before.copies + 1 && contains(line, ui.lastText));
        } else if (verb == "dbgetrowid") {
            FUZZ_CHECK(ui.molecules == before.molecules + 1);
        }
    }
    return 0;
}
