#pragma once
// The engine of ".db" files: SQLite databases, opened read-only. The connection is
// read-only, query_only is on, and an authorizer allows only what reading does, so a
// molecule database can never be changed through the host.
#include <memory>
#include <string>

#include "db_answer.h"
#include "db_engine.h"

struct sqlite3;

// Opens an SQLite molecule database; null with the DbCode and text in error on failure.
std::unique_ptr<DbEngine> openSqliteEngine(const std::string& path, CommandResult& error);

// Runs one reading statement on an open connection and builds the answer (db_answer.h). Also
// used by engines that keep their data in SQLite (the Access engine's cache). hint, when
// given, sizes the answer's buffer and learns the answer's size.
CommandResult sqliteQuery(sqlite3* db, const std::string& sql, dbanswer::SizeHint* hint = nullptr);
// Reads one molecule by ID from the table Molecules of an open connection.
CommandResult sqliteMolecule(sqlite3* db, long long id, DbMolecule& out);
// Makes an open connection read-only for every later statement (query_only and an
// authorizer that allows only reading); false when SQLite refuses.
bool sqliteProtect(sqlite3* db);
