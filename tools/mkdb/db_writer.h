#pragma once
// Writes the molecule table: rows sorted by ascending mass (IDs 1..n in that order), an index
// on MassMI, one transaction, into a temporary file that replaces the target only when
// complete.
#include <string>
#include <vector>

#include "molecule.h"

namespace mkdb {

// Sorts rows by mass (stable) and writes the database to path. Returns false with the
// reason in error; the target is then untouched and no temporary file is left.
bool writeDatabase(const std::string& path, std::vector<Row>& rows, std::string& error);

} // namespace mkdb
