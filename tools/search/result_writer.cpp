// The four result formats.
#include "result_writer.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "db_answer.h"

namespace tvsearch {
namespace {

constexpr size_t kMaxCellChars = 32767; // of one workbook cell

const std::vector<std::string> kColumns = {
    "peak_id",   "mz",        "intensity",      "rt",          "ion",
    "neutral_mass", "hit_id", "hit_mass",       "theoretical_mz", "delta_ppm",
    "isotope_rms", "isotope_cosine", "formula", "name",        "smiles"};

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Fixed decimals, C locale; a value that rounds to zero carries no sign.
void appendFixed(std::string& out, double v, int decimals) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    const char* b = buf;
    if (buf[0] == '-' && std::find_if(buf, r.ptr, [](char c) { return c >= '1' && c <= '9'; }) == r.ptr)
        ++b;
    out.append(b, size_t(r.ptr - b));
}

bool isInteger(std::string_view s, long long& v) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && ec == std::errc() && p == s.data() + s.size();
}

// ---- text formats -----------------------------------------------------------------------

class TextWriter : public ResultWriter {
  public:
    TextWriter(OutputFile& out) : out_(out) { buf_.reserve(kFlushAt + 4096); }
    bool finish(std::string& error) override {
        flush();
        if (failed_) {
            error = "cannot write " + out_.displayName() + ": " + std::strerror(errno_);
            return false;
        }
        return true;
    }

  protected:
    void endRow() {
        if (buf_.size() >= kFlushAt) flush();
    }
    void flush() {
        if (failed_ || buf_.empty()) {
            buf_.clear();
            return;
        }
        if (std::fwrite(buf_.data(), 1, buf_.size(), out_.stream()) != buf_.size()) {
            failed_ = true;
            errno_ = errno ? errno : EIO;
        }
        buf_.clear();
    }
    bool ok() const { return !failed_; }

    static constexpr size_t kFlushAt = 1 << 20;
    OutputFile& out_;
    std::string buf_;
    bool failed_ = false;
    int errno_ = 0;
};

// The text of a number, kept while the same value repeats (the isomers of a formula follow
// each other in a peak's rows and share masses and scores).
class NumberText {
  public:
    template <typename F> const std::string& get(double v, F format) {
        if (!have_ || std::memcmp(&v, &last_, sizeof v) != 0) {
            text_.clear();
            format(text_, v);
            last_ = v;
            have_ = true;
        }
        return text_;
    }

  private:
    double last_ = 0;
    bool have_ = false;
    std::string text_;
};

void appendSix(std::string& out, double v) {
    appendFixed(out, v, 6);
}
void appendThree(std::string& out, double v) {
    appendFixed(out, v, 3);
}
void appendTwo(std::string& out, double v) {
    appendFixed(out, v, 2);
}

class DelimitedWriter : public TextWriter {
  public:
    DelimitedWriter(OutputFile& out, char delimiter) : TextWriter(out), d_(delimiter) {
        for (size_t i = 0; i < kColumns.size(); ++i) {
            if (i) buf_ += d_;
            buf_ += kColumns[i];
        }
        buf_ += eol();
    }

    bool row(const OutputRow& r) override {
        if (r.peak != peak_) {
            // The peak's own fields, once per peak.
            peak_ = r.peak;
            prefix_.clear();
            for (const std::string* f : {&r.peak->id, &r.peak->mzText, &r.peak->intensityText,
                                         &r.peak->rtText}) {
                field(prefix_, *f);
                prefix_ += d_;
            }
        }
        buf_ += prefix_;
        field(r.ion->text);
        sep();
        buf_ += neutral_.get(r.neutralMass, appendSix);
        sep();
        if (r.hit) {
            field(r.hitId);
            sep();
            buf_ += mass_.get(r.hitMass, dbanswer::appendReal);
            sep();
            buf_ += theo_.get(r.theoreticalMz, appendSix);
            sep();
            buf_ += ppm_.get(r.deltaPpm, appendThree);
            sep();
            if (std::isfinite(r.rms)) buf_ += rms_.get(r.rms, appendTwo);
            sep();
            if (std::isfinite(r.cosine)) buf_ += cosine_.get(r.cosine, appendThree);
            sep();
            field(r.formula);
            sep();
            field(r.name);
            sep();
            field(r.smiles);
        } else {
            buf_.append(8, d_);
        }
        buf_ += eol();
        endRow();
        return ok();
    }

  private:
    const char* eol() const { return d_ == ',' ? "\r\n" : "\n"; }
    void sep() { buf_ += d_; }
    void field(std::string_view v) { field(buf_, v); }
    void field(std::string& out, std::string_view v) {
        if (d_ == '\t') {
            const size_t at = out.size();
            out += v;
            for (size_t i = at; i < out.size(); ++i)
                if (out[i] == '\t' || out[i] == '\n' || out[i] == '\r') out[i] = ' ';
        } else {
            appendCsvField(out, v, d_);
        }
    }
    char d_;
    const PeakRecord* peak_ = nullptr;
    std::string prefix_;
    NumberText neutral_, mass_, theo_, ppm_, rms_, cosine_;
};

class JsonLinesWriter : public TextWriter {
  public:
    using TextWriter::TextWriter;

    bool row(const OutputRow& r) override {
        const PeakRecord& p = *r.peak;
        buf_ += "{\"peak_id\":";
        appendJsonString(buf_, p.id);
        buf_ += ",\"mz\":";
        dbanswer::appendReal(buf_, p.mz);
        buf_ += ",\"intensity\":";
        number(p.intensity);
        buf_ += ",\"rt\":";
        number(p.rt);
        buf_ += ",\"ion\":";
        appendJsonString(buf_, r.ion->text);
        buf_ += ",\"neutral_mass\":";
        appendFixed(buf_, r.neutralMass, 6);
        buf_ += ",\"hit_id\":";
        long long id;
        if (!r.hit)
            buf_ += "null";
        else if (isInteger(r.hitId, id))
            buf_ += r.hitId;
        else
            appendJsonString(buf_, r.hitId);
        buf_ += ",\"hit_mass\":";
        if (r.hit)
            dbanswer::appendReal(buf_, r.hitMass);
        else
            buf_ += "null";
        buf_ += ",\"theoretical_mz\":";
        fixedOrNull(r.hit, r.theoreticalMz, 6);
        buf_ += ",\"delta_ppm\":";
        fixedOrNull(r.hit, r.deltaPpm, 3);
        buf_ += ",\"isotope_rms\":";
        fixedOrNull(r.hit && std::isfinite(r.rms), r.rms, 2);
        buf_ += ",\"isotope_cosine\":";
        fixedOrNull(r.hit && std::isfinite(r.cosine), r.cosine, 3);
        for (auto [key, v] : {std::pair<const char*, std::string_view>{"formula", r.formula},
                              {"name", r.name},
                              {"smiles", r.smiles}}) {
            buf_ += ",\"";
            buf_ += key;
            buf_ += "\":";
            if (r.hit)
                appendJsonString(buf_, v);
            else
                buf_ += "null";
        }
        buf_ += "}\n";
        endRow();
        return ok();
    }

  private:
    void number(double v) {
        if (std::isfinite(v))
            dbanswer::appendReal(buf_, v);
        else
            buf_ += "null";
    }
    void fixedOrNull(bool have, double v, int decimals) {
        if (have)
            appendFixed(buf_, v, decimals);
        else
            buf_ += "null";
    }
};

// ---- workbook ---------------------------------------------------------------------------

class XlsxWriter : public ResultWriter {
  public:
    XlsxWriter(OutputFile& out, std::string& error) : out_(out) {
        lxw_workbook_options opt{};
        opt.constant_memory = LXW_TRUE;
        opt.use_zip64 = LXW_TRUE;
        wb_ = workbook_new_opt(out.writePath().c_str(), &opt);
        if (!wb_) {
            error = "cannot create the workbook " + out.displayName();
            return;
        }
        bold_ = workbook_add_format(wb_);
        format_set_bold(bold_);
        for (int d : {2, 3, 6}) {
            lxw_format* f = workbook_add_format(wb_);
            format_set_num_format(f, d == 6 ? "0.000000" : d == 3 ? "0.000" : "0.00");
            fixed_[d] = f;
        }
        newSheet();
    }
    ~XlsxWriter() override {
        if (wb_) workbook_close(wb_);
    }
    bool ok() const { return wb_ && error_ == LXW_NO_ERROR; }

    bool row(const OutputRow& r) override {
        if (!ok()) return false;
        if (row_ >= LXW_ROW_MAX) newSheet();
        const PeakRecord& p = *r.peak;
        lxw_col_t c = 0;
        double v;
        if (readNumber(p.id, v))
            number(c++, v);
        else
            text(c++, p.id);
        number(c++, p.mz);
        number(c++, p.intensity);
        number(c++, p.rt);
        text(c++, r.ion->text);
        number(c++, r.neutralMass, 6);
        if (r.hit) {
            long long id;
            if (isInteger(r.hitId, id))
                number(c++, double(id));
            else
                text(c++, r.hitId);
            number(c++, r.hitMass);
            number(c++, r.theoreticalMz, 6);
            number(c++, r.deltaPpm, 3);
            number(c++, r.rms, 2);
            number(c++, r.cosine, 3);
            text(c++, r.formula);
            text(c++, r.name);
            text(c++, r.smiles);
        }
        ++row_;
        return ok();
    }

    bool finish(std::string& error) override {
        if (!wb_) {
            error = "cannot create the workbook " + out_.displayName();
            return false;
        }
        lxw_error e = workbook_close(wb_);
        wb_ = nullptr;
        if (error_ == LXW_NO_ERROR) error_ = e;
        if (error_ != LXW_NO_ERROR) {
            error = "cannot write the workbook " + out_.displayName() + ": " + lxw_strerror(error_);
            return false;
        }
        return true;
    }

  private:
    void newSheet() {
        ++sheets_;
        const std::string name = sheets_ == 1 ? "Results" : "Results " + std::to_string(sheets_);
        ws_ = workbook_add_worksheet(wb_, name.c_str());
        if (!ws_) {
            error_ = LXW_ERROR_MEMORY_MALLOC_FAILED;
            return;
        }
        worksheet_freeze_panes(ws_, 1, 0);
        const double widths[] = {10, 11, 11, 8, 14, 13, 9, 12, 14, 10, 11, 13, 16, 40, 40};
        for (lxw_col_t c = 0; c < kColumns.size(); ++c)
            worksheet_set_column(ws_, c, c, widths[c], nullptr);
        row_ = 0;
        for (lxw_col_t c = 0; c < kColumns.size(); ++c)
            keep(worksheet_write_string(ws_, row_, c, kColumns[c].c_str(), bold_));
        ++row_;
    }
    void keep(lxw_error e) {
        if (e != LXW_NO_ERROR && error_ == LXW_NO_ERROR) error_ = e;
    }
    void number(lxw_col_t c, double v, int decimals = 0) {
        if (!std::isfinite(v)) return;
        keep(worksheet_write_number(ws_, row_, c, v, decimals ? fixed_[decimals] : nullptr));
    }
    void text(lxw_col_t c, std::string_view v) {
        if (v.empty()) return;
        std::string s = validUtf8(v);
        // A cell holds at most 32767 characters; cut at a character boundary.
        if (s.size() > kMaxCellChars) {
            size_t cut = kMaxCellChars;
            while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
                --cut;
            s.resize(cut);
            ++truncated_;
        }
        keep(worksheet_write_string(ws_, row_, c, s.c_str(), nullptr));
    }

    OutputFile& out_;
    lxw_workbook* wb_ = nullptr;
    lxw_worksheet* ws_ = nullptr;
    lxw_format* bold_ = nullptr;
    lxw_format* fixed_[7] = {};
    lxw_row_t row_ = 0;
    int sheets_ = 0;
    lxw_error error_ = LXW_NO_ERROR;
};

} // namespace

const std::vector<std::string>& resultColumns() {
    return kColumns;
}

bool outputFormatFromName(const std::string& name, OutputFormat& f) {
    const std::string n = lower(name);
    if (n == "csv")
        f = OutputFormat::Csv;
    else if (n == "tsv" || n == "tab" || n == "txt")
        f = OutputFormat::Tsv;
    else if (n == "xlsx")
        f = OutputFormat::Xlsx;
    else if (n == "jsonl" || n == "json" || n == "ndjson")
        f = OutputFormat::Jsonl;
    else
        return false;
    return true;
}

bool outputFormatFromPath(const std::string& path, OutputFormat& f) {
    const size_t slash = path.rfind('/'), dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    return outputFormatFromName(path.substr(dot + 1), f);
}

std::unique_ptr<ResultWriter> makeResultWriter(OutputFormat f, OutputFile& out, std::string& error) {
    switch (f) {
    case OutputFormat::Csv:
        return std::make_unique<DelimitedWriter>(out, ',');
    case OutputFormat::Tsv:
        return std::make_unique<DelimitedWriter>(out, '\t');
    case OutputFormat::Jsonl:
        return std::make_unique<JsonLinesWriter>(out);
    case OutputFormat::Xlsx: {
        auto w = std::make_unique<XlsxWriter>(out, error);
        if (!w->ok()) {
            if (error.empty()) error = "cannot create the workbook " + out.displayName();
            return nullptr;
        }
        return w;
    }
    }
    return nullptr;
}

void appendCsvField(std::string& out, std::string_view v, char delimiter) {
    const void* d = v.data();
    const size_t n = v.size();
    const bool quote = n && (v.front() == ' ' || v.back() == ' ' || std::memchr(d, delimiter, n) ||
                             std::memchr(d, '"', n) || std::memchr(d, '\n', n) ||
                             std::memchr(d, '\r', n));
    if (!quote) {
        out += v;
        return;
    }
    out += '"';
    for (char c : v) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::string validUtf8(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    size_t i = 0;
    while (i < v.size()) {
        const unsigned char c = static_cast<unsigned char>(v[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool good = len > 0 && i + len <= v.size();
        for (size_t k = 1; good && k < len; ++k)
            good = (static_cast<unsigned char>(v[i + k]) & 0xC0) == 0x80;
        if (good && len > 1) {
            // Overlong forms, surrogates and code points above U+10FFFF are not UTF-8.
            unsigned cp = c & (0x7F >> len);
            for (size_t k = 1; k < len; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(v[i + k]) & 0x3F);
            const unsigned minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            good = cp >= minimum[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        }
        if (good) {
            out.append(v.data() + i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

void appendJsonString(std::string& out, std::string_view v) {
    const std::string s = validUtf8(v);
    out += '"';
    static const char hex[] = "0123456789abcdef";
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

} // namespace tvsearch
