// Clipboard texts, CSV and DIF files of the results table.
#include "export_results.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <locale.h>

#include "formatsettings.h"
#include "localized.h"

namespace {

constexpr const char* Eol = "\r\n";

// Writes whole lines, each ended by CR LF, until one fails.
class CLineWriter {
  public:
    explicit CLineWriter(std::FILE* file) : file_(file) {}
    bool operator()(const std::string& text) {
        if (!ok_) return false;
        line_.assign(text).append(Eol);
        ok_ = std::fwrite(line_.data(), 1, line_.size(), file_) == line_.size();
        return ok_;
    }
    bool ok() const { return ok_; }

  private:
    std::FILE* file_;
    std::string line_;
    bool ok_ = true;
};

std::string Join(const std::vector<std::string>& cells, const char* sep) {
    std::string out;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i) out += sep;
        out += cells[i];
    }
    return out;
}

std::string Quoted(const std::string& text) {
    return '"' + text + '"';
}

// Header and data tuples of the DIF table; false at the first failed write.
bool DifTuples(CLineWriter& line, const TResultsTable& table, char decSep) {
    line("-1,0");
    line("BOT");
    for (const std::string& caption : table.Captions) {
        line("1,0");
        line(Quoted(caption));
    }
    std::string number;
    for (const std::vector<std::string>& row : table.Rows) {
        line("-1,0");
        line("BOT");
        for (size_t i = 0; i < row.size(); ++i) {
            if (i == 0 && DifNumber(row[0], decSep, number)) {
                line("0," + number);
                line("V");
            } else {
                line("1,0");
                line(Quoted(row[i]));
            }
        }
        if (!line.ok()) return false;
    }
    line("-1,0");
    return line("EOD");
}

} // namespace

std::string ResRowText(const std::vector<std::string>& row) {
    return Join(row, " ");
}

std::string ResTableText(const TResultsTable& table) {
    std::string out = Join(table.Captions, "; ") + Eol;
    for (const std::vector<std::string>& row : table.Rows)
        out += Join(row, "; ") + Eol;
    return out;
}

bool WriteResultsCsv(std::FILE* file, const TResultsTable& table) {
    CLineWriter line(file);
    if (!line(Join(table.Captions, "; "))) return false;
    for (const std::vector<std::string>& row : table.Rows)
        if (!line(Join(row, "; "))) return false;
    return true;
}

bool DifNumber(const std::string& cell, char decSep, std::string& number) {
    std::string text = cell;
    if (decSep != '.') std::replace(text.begin(), text.end(), decSep, '.');
    if (text.empty() || text[0] == '+') return false;
    double value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(value))
        return false;
    number = text;
    return true;
}

bool WriteResultsDif(std::FILE* file, const TResultsTable& table, char decSep) {
    // Cells per row: the list's columns; tuples: the header and every row.
    const size_t columns = table.Rows.empty() ? table.Captions.size() : table.Rows.front().size();
    CLineWriter line(file);
    line("TABLE");
    line("0,1");
    line(Quoted("POCKETS"));
    line("VECTORS");
    line("0," + std::to_string(columns));
    line("\"\"");
    line("TUPLES");
    line("0," + std::to_string(table.Rows.size() + 1));
    line("\"\"");
    line("DATA");
    line("0,0");
    line("\"\"");
    return line.ok() && DifTuples(line, table, decSep);
}

TResSave SaveResultsFile(const std::string& path, int filterIndex, const TResultsTable& table,
                         char decSep) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) return TResSave::CannotCreate;
    bool ok = true;
    try {
        if (filterIndex == ResFilterCsv)
            ok = WriteResultsCsv(file, table);
        else if (filterIndex == ResFilterDif)
            ok = WriteResultsDif(file, table, decSep);
    } catch (...) { // out of memory: the file is closed all the same
        std::fclose(file);
        throw;
    }
    // Buffered data reaches the file at the close: a failure there counts as
    // a failed write too.
    if (std::fclose(file) != 0) ok = false;
    return ok ? TResSave::Written : TResSave::WriteFailed;
}

std::string ResSheetName(double mass, double ppm) {
    // The numbers with a point first, then the user's separator.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const char* format = GetFmtStr(49);
    const locale_t old = uselocale(cLocale);
    const int n = std::snprintf(nullptr, 0, format, mass, ppm);
    std::string name;
    if (n > 0) {
        name.resize(static_cast<size_t>(n) + 1);
        std::snprintf(&name[0], name.size(), format, mass, ppm);
        name.resize(static_cast<size_t>(n));
    }
    uselocale(old);
    BriskDecSepToLoc(name);
    return name;
}
