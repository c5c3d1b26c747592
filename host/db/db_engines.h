#pragma once
// The host's database engines behind "DbOpen", "DbInfo", "DbSqlExec", "DbClose" and
// "DbGetRowId". Each function takes the text of the command after its verb.
//
// ".db" files are SQLite databases, opened read-only; ".mdb" and ".dsn" are recognised but
// not supported yet. A database must hold the table Molecules with the columns ID, MassMI,
// Formula, Name and Smiles. Open databases are addressed by handle names "DB1", "DB2", ...
// (compared ignoring case), never reused within one DbEngines object.
//
// A query answers one line per row: every field, the last one included, is closed by ";"
// or, for the last, by "\n". Inside a text value ";" becomes "," and CR, LF and NUL become
// a blank, so fields never shift; NULL is an empty field; integers are written as integers
// and reals as the shortest text that reads back to the same double, always with the C
// locale's point.
//
// Not thread-safe: one object is driven by one thread (the host's command interpreter).
#include <functional>
#include <map>
#include <string>

#include "command_result.h"

struct sqlite3;

// Result codes of the database commands (0 is success; the interpreter's own codes are
// below 20).
enum DbCode {
    DB_BAD_SYNTAX = 20,       // the arguments do not have the expected form
    DB_FILE_NOT_FOUND = 21,   // no such file (or it is a folder)
    DB_NOT_A_DATABASE = 22,   // the file is not an SQLite database
    DB_NO_MOLECULES = 23,     // no table Molecules, or it lacks a needed column
    DB_NOT_SUPPORTED = 24,    // ".mdb", ".dsn" or an unknown kind of file
    DB_OPEN_FAILED = 25,      // SQLite could not open the file (permissions, ...)
    DB_UNKNOWN_HANDLE = 26,   // no open database of that name
    DB_SQL_ERROR = 27,        // the statement failed to compile or to run
    DB_NOT_READ_ONLY = 28,    // the statement would change something, or is not one statement
    DB_UNKNOWN_ROW = 29,      // DbGetRowId: no row with that ID
    DB_ANSWER_TOO_LARGE = 30, // the answer would exceed kMaxAnswerBytes
    DB_INTERNAL = 31,         // an unexpected failure (out of memory, ...)
};

class DbEngines {
  public:
    struct Molecule {
        long long id;
        double mass;
        std::string formula, name, smiles;
    };

    // Answers larger than this are refused rather than built.
    static constexpr size_t kMaxAnswerBytes = size_t(512) << 20;

    DbEngines() = default;
    ~DbEngines();
    DbEngines(const DbEngines&) = delete;
    DbEngines& operator=(const DbEngines&) = delete;

    // Set by the host; "DbGetRowId ... Replace" calls it with the row it read.
    std::function<void(const Molecule&)> onLoadMolecule;

    // "\"/path/to/Databases\\x.db\"" (quotes optional; "\" and "/" both separate folders).
    // Answer: the handle name.
    CommandResult dbOpen(const std::string& args);
    // "DB1 Format" answers "SQLITE"; "DB1 Path" answers the file's path.
    CommandResult dbInfo(const std::string& args);
    // "DB1 \"SELECT ...\"": handle, blank, the statement in double quotes (the text between
    // the first and the last quote). Exactly one statement, and one that only reads.
    CommandResult dbSqlExec(const std::string& args);
    // "DB1".
    CommandResult dbClose(const std::string& args);
    // "DB1 123 Replace": reads the row with ID 123 and hands it to onLoadMolecule.
    CommandResult dbGetRowId(const std::string& args);
    // Closes every open database.
    void closeAll();

    // Appends one answer field to out, closed by terminator: ";" and CR/LF/NUL replaced.
    static void appendTextField(std::string& out, const char* text, size_t size, char terminator);
    // Appends the shortest C-locale text of v that reads back to the same double.
    static void appendReal(std::string& out, double v);

  private:
    struct Db {
        sqlite3* handle = nullptr;
        std::string path;
    };

    Db* find(const std::string& name);
    CommandResult open(const std::string& args);
    CommandResult exec(const std::string& args);
    CommandResult getRowId(const std::string& args);

    std::map<std::string, Db> dbs_; // key: upper-case handle name
    long next_ = 1;
};
