#pragma once
// The engine of ".dsn" files: ODBC file data sources, opened through unixODBC with
// SQLDriverConnect("FILEDSN=<path>"), read-only. It is the way to a shared server (PostgreSQL
// through psqlODBC); any installed ODBC driver works (SQLite through libsqliteodbc, Access
// files through the MDBTools driver).
//
// Read-only, in layers: every statement passes sql_guard.h (one SELECT) before anything is
// sent; the connection asks for SQL_MODE_READ_ONLY and psqlODBC's own ReadOnly=1; a PostgreSQL
// session runs every transaction read-only (default_transaction_read_only, checked when
// opening); an SQLite file gets query_only. The role the .dsn logs in with should be allowed
// to SELECT and nothing else (tarvish-mkdb --readonly-role makes such a role).
//
// Timeouts: LoginTimeout (default 10 s) bounds the opening, QueryTimeout (default 30 s) every
// statement; both may be given in the .dsn (dsn_file.h). On a TCP link to PostgreSQL the
// keepalive and TCP timeouts are set from QueryTimeout, so a server that vanishes mid-query
// is noticed within it.
//
// Answers are byte for byte those of the SQLite engine (db_answer.h): integers are fetched as
// 64-bit integers, reals as doubles, texts as UTF-8, in blocks of rows (row-array binding).
#include <memory>
#include <string>

#include "db_engine.h"

struct DsnFile;

// Opens a .dsn: PostgreSQL data sources with libpq (pg_engine.h, unless the file says
// Client=odbc), every other through its ODBC driver. Null with the DbCode and text in error
// on failure.
std::unique_ptr<DbEngine> openDsnEngine(const std::string& path, CommandResult& error);

// Opens an ODBC file data source through its driver; null with the DbCode and text in error.
std::unique_ptr<DbEngine> openOdbcEngine(const std::string& path, const DsnFile& dsn,
                                         CommandResult& error);

// The connection string the engine connects with: FILEDSN= the file (its keys written out
// when the path cannot be quoted for the driver manager), then the read-only and timeout
// settings of the drivers that have them.
std::string odbcConnectionString(const std::string& path, const DsnFile& dsn);

// What "DbInfo Format" answers for a DBMS name from the driver: the name in upper case,
// "ACCESS" for every driver of Access files.
std::string odbcFormat(const std::string& dbmsName);
