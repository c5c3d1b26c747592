#pragma once
// One kind of database behind the host's database commands. Each engine (SQLite, Access,
// ODBC, ...) opens one database read-only, names its format, runs the reading statements
// the plug-in and users write and reads single molecules; the handle table and the command
// texts are DbEngines'. Engines answer in the shared text format of db_answer.h.
//
// An engine object is driven by one thread at a time.
#include <memory>
#include <string>

#include "command_result.h"

// Result codes of the database commands (0 is success; the interpreter's own codes are
// below 20). Every engine uses the same code for the same kind of failure.
enum DbCode {
    DB_BAD_SYNTAX = 20,       // the arguments do not have the expected form
    DB_FILE_NOT_FOUND = 21,   // no such file (or it is a folder)
    DB_NOT_A_DATABASE = 22,   // the file is not a database of its kind
    DB_NO_MOLECULES = 23,     // no table Molecules, or it lacks a needed column
    DB_NOT_SUPPORTED = 24,    // an unknown kind of file
    DB_OPEN_FAILED = 25,      // the database could not be opened (permissions, ...)
    DB_UNKNOWN_HANDLE = 26,   // no open database of that name
    DB_SQL_ERROR = 27,        // the statement failed to compile or to run
    DB_NOT_READ_ONLY = 28,    // the statement would change something, or is not one statement
    DB_UNKNOWN_ROW = 29,      // DbGetRowId: no row with that ID
    DB_ANSWER_TOO_LARGE = 30, // the answer would exceed kMaxAnswerBytes
    DB_INTERNAL = 31,         // an unexpected failure (out of memory, ...)
    // ODBC data sources (.dsn) and the servers behind them:
    DB_DSN_UNREADABLE = 32,     // the .dsn file exists but cannot be read
    DB_NOT_A_DATA_SOURCE = 33,  // the file is not a usable ODBC file data source
    DB_UNKNOWN_DRIVER = 34,     // the data source names a driver that is not installed
    DB_SERVER_UNREACHABLE = 35, // the server is down, or did not answer within the login timeout
    DB_LOGIN_REFUSED = 36,      // the server refused the login (password, user, database)
    DB_CONNECTION_LOST = 37,    // the link to the server broke; open the data source again
    DB_QUERY_TIMEOUT = 38,      // the statement ran longer than the query timeout
};

// One row of Molecules, as "DbGetRowId" loads it into the workspace.
struct DbMolecule {
    long long id = 0;
    double mass = 0;
    std::string formula, name, smiles;
};

class DbEngine {
  public:
    virtual ~DbEngine() = default;

    // What "DbInfo <handle> Format" answers: "SQLITE", "ACCESS", or a DBMS name in upper
    // case. The plug-in sends the TOP form of its query when this is "ACCESS".
    virtual std::string format() const = 0;

    // Runs exactly one reading statement; ok() carries the answer rows (db_answer.h), fail()
    // a DbCode and its text. Anything that could write is refused before it runs.
    virtual CommandResult query(const std::string& sql) = 0;

    // Reads the row of Molecules with this ID: 0, DB_UNKNOWN_ROW or another DbCode.
    virtual CommandResult molecule(long long id, DbMolecule& out) = 0;
};

// Opens a database file with the engine of its kind (by its extension). On failure returns
// null and sets error to the DbCode and its text.
using DbEngineOpener = std::unique_ptr<DbEngine> (*)(const std::string& path,
                                                     CommandResult& error);
