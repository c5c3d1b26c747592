#pragma once
// Writes a molecule database. A RowWriter takes the rows in ascending mass, each with its
// final ID, and makes the target appear only when finish() succeeds: until then it writes a
// temporary beside the target (or, for a server, a table of its own), and a writer destroyed
// unfinished removes it and leaves the old target untouched.
//
// Every writer stores the table Molecules with the columns ID, MassMI, Formula, Name, Smiles
// and makes MassMI searchable by index.
#include <memory>
#include <string>
#include <vector>

#include "molecule.h"

namespace mkdb {

class RowWriter {
  public:
    virtual ~RowWriter() = default;
    // Appends one row; false with the reason in error.
    virtual bool add(long long id, const Row& row, std::string& error) = 0;
    // Completes the database (index, commit, rename); false with the reason in error.
    virtual bool finish(std::string& error) = 0;
};

// An SQLite database file (.db). The Access (Jet 4) writer of .mdb files is in jet_writer.h.
std::unique_ptr<RowWriter> openSqliteWriter(const std::string& path, std::string& error);

// True when path names a kind of output a writer exists for (by its extension).
bool isKnownOutput(const std::string& path);

// The writer for the kind of output path names (by its extension); null with the reason in
// error for an unknown kind or when the output cannot be started.
std::unique_ptr<RowWriter> openRowWriter(const std::string& path, std::string& error);

// Sorts rows by mass (stable), numbers them 1..n in that order and writes them to path.
// Returns false with the reason in error; the target is then untouched and no temporary file
// is left.
bool writeDatabase(const std::string& path, std::vector<Row>& rows, std::string& error);

} // namespace mkdb
