#pragma once
// Writes the molecules into a PostgreSQL table with libpq (tarvish-mkdb --postgres).
//
// Everything happens in one transaction: a new table is created and filled with COPY (rows in
// ascending mass, so the table lies in mass order), then the primary key on id and the index
// on massmi are built, the table is marked as clustered on that index, analysed, and renamed
// over the old table. A run that fails or is killed leaves the old table as it was; readers
// of the old table wait only for the final rename.
//
// Names are unquoted and in lower case (molecules, id, massmi, formula, name, smiles), so the
// plug-in's SQL ("FROM Molecules", "MassMI") finds them unchanged.
#include <memory>
#include <string>

#include "db_writer.h"

namespace mkdb {

struct PgOptions {
    std::string conninfo;     // libpq connection string ("host=db.lab dbname=lab user=admin")
    std::string table = "molecules";
    std::string readonlyRole; // when set: may SELECT the table (made when missing)
    std::string dsnFile;      // when set: a matching ODBC data source written there
    std::string dsnDriver = "PostgreSQL Unicode";
};

// True when name is a plain SQL name (letters, digits, "_", not starting with a digit, at
// most 48 characters); PostgreSQL folds it to lower case.
bool isPlainName(const std::string& name);

// Connects and checks the options; null with the reason in error. The table is only
// touched from the first row on.
std::unique_ptr<RowWriter> openPgWriter(const PgOptions& options, std::string& error);

} // namespace mkdb
