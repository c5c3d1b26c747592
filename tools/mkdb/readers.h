#pragma once
// Input readers of the database builder. Each reader hands every record of a file to a sink:
// the structure text (SMILES, a molfile block or a CML molecule), the name as read (entities
// not yet decoded) and where it came from.
#include <functional>
#include <stdexcept>
#include <string>

namespace mkdb {

enum class StructureKind { Smiles, Molfile, Cml };

struct Record {
    std::string source; // file name
    long line = 0;      // first line of the record in its file
    StructureKind kind = StructureKind::Smiles;
    std::string structure; // empty when the record has none (a rejection)
    std::string name;
    std::string problem; // set when the record is unusable as read (missing column, ...)
};

using RecordSink = std::function<void(Record&&)>;

// A column of a CSV/TSV file: by header name (case-insensitive) or by 1-based number.
struct ColumnRef {
    std::string name;
    int number = 0; // 1-based; 0 when given by name
    bool empty() const { return name.empty() && number == 0; }
    // Parses "3" as a number and anything else as a header name.
    static ColumnRef parse(const std::string& text);
};

struct DelimitedOptions {
    char delimiter = ',';
    bool quoted = true; // CSV quoting ("a;b", "" for a quote); off for TSV
    int header = -1;    // 1 the first line names the columns, 0 it does not, -1 decide
    ColumnRef smiles;   // default: the header column "smiles"
    ColumnRef name;     // default: the header column "name", if any
};

// Thrown for a file that cannot be read at all, or a column choice that cannot be met.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "SMILES name" per line (name = the rest of the line); blank lines are skipped.
void readSmilesFile(const std::string& path, const RecordSink& sink);
// CSV or TSV with the chosen columns; a line that lacks a column gives a rejected record.
void readDelimitedFile(const std::string& path, const DelimitedOptions& options,
                       const RecordSink& sink);
// SD file: molfile blocks separated by "$$$$". The name is the data field nameField when
// given and present, else the title line, else a data field called "Name" (any case).
void readSdfFile(const std::string& path, const std::string& nameField, const RecordSink& sink);
// CML: every top-level <molecule> element; the name is its first <name> child's text (XML
// entities decoded later with the rest), else its title attribute.
void readCmlFile(const std::string& path, const RecordSink& sink);

} // namespace mkdb
