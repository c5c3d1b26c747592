#pragma once
// Writes Access (Jet 4) files. A file holds the system catalog MSysObjects, the empty system
// tables MSysACEs, MSysQueries and MSysRelationships, and one user table whose rows lie on
// the data pages in the order given; long values (Memo, OLE) longer than 64 bytes go to
// long-value pages, as Access stores them.
//
// No index is written: Access opens a table without one, and a wrong index would make
// Access declare the file damaged. The host's engine indexes its own copy of the rows.
//
// The molecule writer (openJetWriter) makes the table Molecules with ID (Long), MassMI
// (Double), Formula (Text 255), Name (Text 255) and Smiles (Memo). Names longer than 255
// characters, the limit of an Access Text column, are cut there and the writer says how many
// on standard error; a formula that long is refused.
#include <memory>
#include <string>
#include <vector>

#include "db_writer.h"
#include "jet_format.h"

namespace mkdb {

std::unique_ptr<RowWriter> openJetWriter(const std::string& path, std::string& error);

// A Jet 4 file with one user table of any columns. Like a RowWriter, it writes a temporary
// file beside the target and renames it in finish(); destroyed unfinished, it leaves nothing.
class JetTableWriter {
  public:
    JetTableWriter(std::string path, std::string table, jet::TableDef def);
    ~JetTableWriter();
    JetTableWriter(const JetTableWriter&) = delete;
    JetTableWriter& operator=(const JetTableWriter&) = delete;

    bool start(std::string& error);
    // The 12-byte field of a long value (its bytes as stored: text already encoded), with the
    // value inline or on long-value pages; false with the reason in error.
    bool longValue(const std::string& data, std::string& field, std::string& error);
    // Appends a row (fields as TableDef::encodeRow takes them).
    bool addRow(const std::vector<jet::TableDef::Field>& fields, std::string& error);
    bool finish(std::string& error);

  private:
    bool allocPage(uint32_t& page, std::string& error);
    bool writePage(uint32_t page, const std::string& bytes, std::string& error);
    bool flushData(std::string& error);
    bool flushLval(std::string& error);
    bool addLval(const std::string& row, uint32_t& at, std::string& error);
    std::string globalMap() const;
    std::string catalogRow(int32_t id, int32_t parent, const std::string& name, int type,
                           uint32_t flags) const;
    std::string catalogPage() const;

    std::string path_, tmp_, table_;
    jet::TableDef def_;
    double date_;
    int fd_ = -1;
    bool done_ = false;
    uint32_t nextPage_;
    std::unique_ptr<jet::PageBuilder> data_, lval_;
    uint32_t dataPage_ = 0, lvalPage_ = 0;
    std::vector<uint32_t> dataPages_, lvalPages_;
    uint32_t rows_ = 0;
};

} // namespace mkdb
