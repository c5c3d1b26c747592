#pragma once
// PostgreSQL data sources read with libpq. A .dsn whose driver is the PostgreSQL ODBC driver
// (psqlODBC) is read with libpq straight away: psqlODBC copies every value of a result into
// its own storage and converts it again for each fetch, which costs about twice the whole
// query (measured: bench/odbc); libpq hands the server's answer over as it came. The keys are
// psqlODBC's (SERVER, PORT, DATABASE, UID, PWD, SSLmode, pqopt), so the same .dsn works
// through ODBC with "Client=odbc".
//
// Read-only as through ODBC: the statement passes sql_guard.h, and every transaction of the
// session is read-only (checked when opening). LoginTimeout and QueryTimeout as in
// dsn_file.h.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db_engine.h"

struct DsnFile;

// True when the data source is read with libpq: its DRIVER is a PostgreSQL driver and it does
// not say Client=odbc.
bool usesLibpq(const DsnFile& dsn);

// The libpq connection keywords and values for a data source.
std::vector<std::pair<std::string, std::string>> pgConnParams(const DsnFile& dsn);

// Opens the data source at path (already read into dsn); null with the DbCode and text in
// error on failure.
std::unique_ptr<DbEngine> openPgEngine(const std::string& path, const DsnFile& dsn,
                                       CommandResult& error);
