#pragma once
// Writes a molecule database as an Access (Jet 4) file: the system catalog MSysObjects, the
// empty system tables MSysACEs, MSysQueries and MSysRelationships, and the table Molecules
// with ID (Long), MassMI (Double), Formula (Text 255), Name (Text 255) and Smiles (Memo),
// its rows on the data pages in the order given (ascending mass). SMILES longer than 64
// bytes go to long-value pages, as Access stores them.
//
// No index is written: Access opens a table without one, and a wrong index would make
// Access declare the file damaged. The host's engine indexes its own copy of the rows.
//
// Names longer than 255 characters, the limit of an Access Text column, are cut there; the
// writer says how many on standard error. A formula that long is refused.
#include <memory>
#include <string>

#include "db_writer.h"

namespace mkdb {

std::unique_ptr<RowWriter> openJetWriter(const std::string& path, std::string& error);

} // namespace mkdb
