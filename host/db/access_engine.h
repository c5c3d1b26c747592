#pragma once
// The engine of ".mdb" files: Access databases, read with libmdb and never written. The
// table Molecules is copied once into an SQLite cache (access_cache.h), and the Access SQL
// of each statement is translated (access_sql.h) and run there, so the answers are exactly
// those of the SQLite engine. "DbInfo ... Format" answers "ACCESS", so the plug-in sends its
// TOP form. A change of the file is seen at the next statement, which then reads the new
// file; a damaged cache is rebuilt.
//
// Only reading statements over the table Molecules run: anything else is refused.
#include <memory>
#include <string>

#include "db_engine.h"

// Opens an Access molecule database; null with the DbCode and text in error on failure.
std::unique_ptr<DbEngine> openAccessEngine(const std::string& path, CommandResult& error);
