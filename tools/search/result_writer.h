#pragma once
// The result table in four formats: CSV (RFC 4180 quoting), TSV (tabs and line breaks inside
// a value become blanks), an .xlsx workbook (bold header, numbers as numbers) and JSON Lines
// (one object per row, empty values as null). Every format has the same columns, in this
// order, and the same numbers: the peak's fields as read; masses and m/z with 6 decimals
// (the stored mass as stored), Δppm with 3, the RMS with 2 (as the isotope chart's
// title shows it) and the cosine with 3.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "adduct.h"
#include "output_file.h"
#include "peak_list.h"

namespace tvsearch {

enum class OutputFormat { Csv, Tsv, Xlsx, Jsonl };

// "csv", "tsv", "xlsx", "jsonl" (also "json", "ndjson", "tab"). False for anything else.
bool outputFormatFromName(const std::string& name, OutputFormat& f);
// By the file's extension; false when it names none of the formats.
bool outputFormatFromPath(const std::string& path, OutputFormat& f);

struct OutputRow {
    const PeakRecord* peak = nullptr;
    const Ion* ion = nullptr;
    double neutralMass = 0; // the neutral mass of the measured m/z as this ion
    bool hit = false;       // false: the row of a peak and ion without hits
    std::string_view hitId;
    double hitMass = 0, theoreticalMz = 0, deltaPpm = 0;
    double rms = 0, cosine = 0; // NaN when the peak has no cluster
    std::string_view formula, name, smiles;
};

// The column names of the header.
const std::vector<std::string>& resultColumns();

class ResultWriter {
  public:
    virtual ~ResultWriter() = default;
    virtual bool row(const OutputRow& r) = 0;
    // Writes what is left; false with the reason.
    virtual bool finish(std::string& error) = 0;
    // Values cut to fit the format (a workbook cell holds at most 32767 characters).
    long truncated() const { return truncated_; }

  protected:
    long truncated_ = 0;
};

// A writer on an opened output (for Xlsx, out must have been opened with needPath).
std::unique_ptr<ResultWriter> makeResultWriter(OutputFormat f, OutputFile& out, std::string& error);

// Exposed for tests: one CSV field (quoted when it holds the delimiter, a quote, CR or LF,
// or leading/trailing blanks), a JSON string with escapes, and the text with invalid UTF-8
// replaced by U+FFFD.
void appendCsvField(std::string& out, std::string_view v, char delimiter);
void appendJsonString(std::string& out, std::string_view v);
std::string validUtf8(std::string_view v);

} // namespace tvsearch
