#pragma once
// The host's database commands "DbOpen", "DbInfo", "DbSqlExec", "DbClose" and "DbGetRowId"
// over the engines of db_engine.h. Each function takes the text of the command after its
// verb. The engine is chosen by the file's extension: ".db" SQLite (sqlite_engine.h), ".mdb"
// and ".accdb" Access (access_engine.h), ".dsn" ODBC data sources (odbc_engine.h); the other
// kinds are added to kEngines in db_engines.cpp. Open databases are addressed by handle names
// "DB1", "DB2", ... (compared ignoring case), never reused within one DbEngines object.
// Answers are in the format of db_answer.h, whatever the engine.
//
// Not thread-safe: one object is driven by one thread (the host's command interpreter).
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "db_engine.h"

class DbEngines {
  public:
    using Molecule = DbMolecule;

    DbEngines();
    ~DbEngines();
    DbEngines(const DbEngines&) = delete;
    DbEngines& operator=(const DbEngines&) = delete;

    // Set by the host; "DbGetRowId ... Replace" calls it with the row it read.
    std::function<void(const Molecule&)> onLoadMolecule;

    // "\"/path/to/Databases\\x.db\"" (quotes optional; "\" and "/" both separate folders).
    // Answer: the handle name.
    CommandResult dbOpen(const std::string& args);
    // "DB1 Format" answers the engine's format ("SQLITE", ...); "DB1 Path" the file's path.
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

    // The engine behind an open handle (null when there is none), for tools that drive the
    // engines directly.
    DbEngine* engine(const std::string& handle);

    // Opens path with the engine of its kind, without a handle: for tools that need no
    // command texts. Null with the DbCode and text in error on failure.
    static std::unique_ptr<DbEngine> openFile(const std::string& path, CommandResult& error);

  private:
    struct Db {
        std::unique_ptr<DbEngine> engine;
        std::string path;
    };

    Db* find(const std::string& name);
    CommandResult open(const std::string& args);
    CommandResult exec(const std::string& args);
    CommandResult getRowId(const std::string& args);

    std::map<std::string, Db> dbs_; // key: upper-case handle name
    long next_ = 1;
};
