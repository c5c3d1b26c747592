// The four result formats.
#include "result_writer.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "db_answer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    TextWriter(OutputFile& out) : out_(out) {}
    bool finish(std::string& error) override {
        if (!out_.flush()) {
            error = "cannot write " + out_.displayName() + ": " + std::strerror(out_.error());
            return false;
        }
        return true;
    }

  protected:
    // Room for n more bytes of output; done() says where they end.
    char* room(size_t n) { return out_.room(n); }
    void done(char* end) { out_.advance(end); }
    void put(std::string_view s) {
        char* d = room(s.size());
        std::memcpy(d, s.data(), s.size());
        done(d + s.size());
    }
    bool ok() const { return out_.ok(); }

    OutputFile& out_;
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
        std::string header;
        for (size_t i = 0; i < kColumns.size(); ++i) {
            if (i) header += d_;
            header += kColumns[i];
        }
        header += eol();
        put(header);
    }

    bool row(const OutputRow& r) override {
        if (r.peak != peak_) {
            // The peak's own fields, once per peak.
            peak_ = r.peak;
            prefix_.clear();
            for (const std::string* f : {&r.peak->id, &r.peak->mzText, &r.peak->intensityText,
                                         &r.peak->rtText}) {
                const size_t at = prefix_.size();
                prefix_.resize(at + 2 * f->size() + 2);
                prefix_.resize(size_t(field(&prefix_[at], *f) - prefix_.data()));
                prefix_ += d_;
            }
        }
        static const std::string none;
        const std::string& neutral = neutral_.get(r.neutralMass, appendSix);
        const std::string& mass = r.hit ? mass_.get(r.hitMass, dbanswer::appendReal) : none;
        const std::string& theo = r.hit ? theo_.get(r.theoreticalMz, appendSix) : none;
        const std::string& ppm = r.hit ? ppm_.get(r.deltaPpm, appendThree) : none;
        const std::string& rms = r.hit && std::isfinite(r.rms) ? rms_.get(r.rms, appendTwo) : none;
        const std::string& cosine =
            r.hit && std::isfinite(r.cosine) ? cosine_.get(r.cosine, appendThree) : none;
        // At most: every text field quoted with every byte doubled, and the numbers as they are.
        const size_t most = prefix_.size() + 2 * (r.ion->text.size() + r.hitId.size() +
                                                  r.formula.size() + r.name.size() +
                                                  r.smiles.size()) +
                            neutral.size() + mass.size() + theo.size() + ppm.size() + rms.size() +
                            cosine.size() + 32;
        if (r.ion != ion_) {
            ion_ = r.ion;
            ionField_.resize(2 * r.ion->text.size() + 2);
            ionField_.resize(size_t(field(&ionField_[0], r.ion->text) - ionField_.data()));
        }
        char* d = room(most);
        d = copy(d, prefix_);
        d = copy(d, ionField_);
        *d++ = d_;
        d = copy(d, neutral);
        *d++ = d_;
        if (r.hit) {
            d = field(d, r.hitId);
            *d++ = d_;
            for (const std::string* t : {&mass, &theo, &ppm, &rms, &cosine}) {
                d = copy(d, *t);
                *d++ = d_;
            }
            // Isomers follow each other: the last formula's field is kept.
            if (r.formula != formula_) {
                formula_.assign(r.formula.data(), r.formula.size());
                formulaField_.resize(2 * r.formula.size() + 2);
                formulaField_.resize(size_t(field(&formulaField_[0], r.formula) - formulaField_.data()));
            }
            d = copy(d, formulaField_);
            *d++ = d_;
            d = field(d, r.name);
            *d++ = d_;
            d = field(d, r.smiles);
        } else {
            std::memset(d, d_, 8);
            d += 8;
        }
        if (d_ == ',') *d++ = '\r';
        *d++ = '\n';
        done(d);
        return ok();
    }

  private:
    const char* eol() const { return d_ == ',' ? "\r\n" : "\n"; }
    static char* copy(char* d, std::string_view v) {
        std::memcpy(d, v.data(), v.size());
        return d + v.size();
    }
    // Writes one field at d (room for 2 * size + 2 bytes); returns its end.
    char* field(char* d, std::string_view v) const {
        return d_ == '\t' ? writeTsvField(d, v) : writeCsvField(d, v, d_);
    }
    char d_;
    const PeakRecord* peak_ = nullptr;
    std::string prefix_;
    NumberText neutral_, mass_, theo_, ppm_, rms_, cosine_;
    // The last ion's and formula's fields as written.
    const Ion* ion_ = nullptr;
    std::string ionField_;
    std::string formula_ = std::string(1, '\0'), formulaField_;
};

class JsonLinesWriter : public TextWriter {
  public:
    using TextWriter::TextWriter;

    bool row(const OutputRow& r) override {
        const PeakRecord& p = *r.peak;
        line_.clear();
        line_ += "{\"peak_id\":";
        appendJsonString(line_, p.id);
        line_ += ",\"mz\":";
        dbanswer::appendReal(line_, p.mz);
        line_ += ",\"intensity\":";
        number(p.intensity);
        line_ += ",\"rt\":";
        number(p.rt);
        line_ += ",\"ion\":";
        appendJsonString(line_, r.ion->text);
        line_ += ",\"neutral_mass\":";
        appendFixed(line_, r.neutralMass, 6);
        line_ += ",\"hit_id\":";
        long long id;
        if (!r.hit)
            line_ += "null";
        else if (isInteger(r.hitId, id))
            line_ += r.hitId;
        else
            appendJsonString(line_, r.hitId);
        line_ += ",\"hit_mass\":";
        if (r.hit)
            dbanswer::appendReal(line_, r.hitMass);
        else
            line_ += "null";
        line_ += ",\"theoretical_mz\":";
        fixedOrNull(r.hit, r.theoreticalMz, 6);
        line_ += ",\"delta_ppm\":";
        fixedOrNull(r.hit, r.deltaPpm, 3);
        line_ += ",\"isotope_rms\":";
        fixedOrNull(r.hit && std::isfinite(r.rms), r.rms, 2);
        line_ += ",\"isotope_cosine\":";
        fixedOrNull(r.hit && std::isfinite(r.cosine), r.cosine, 3);
        for (auto [key, v] : {std::pair<const char*, std::string_view>{"formula", r.formula},
                              {"name", r.name},
                              {"smiles", r.smiles}}) {
            line_ += ",\"";
            line_ += key;
            line_ += "\":";
            if (r.hit)
                appendJsonString(line_, v);
            else
                line_ += "null";
        }
        line_ += "}\n";
        put(line_);
        return ok();
    }

  private:
    std::string line_; // the row being built
    void number(double v) {
        if (std::isfinite(v))
            dbanswer::appendReal(line_, v);
        else
            line_ += "null";
    }
    void fixedOrNull(bool have, double v, int decimals) {
        if (have)
            appendFixed(line_, v, decimals);
        else
            line_ += "null";
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

namespace {

// True when the value holds one of the bytes a, b, c or d. Sixteen bytes at a time where the
// value is that long (the last block overlapping the one before).
bool holdsAny(std::string_view v, char a, char b, char c, char d) {
    const char* s = v.data();
    const size_t n = v.size();
#if defined(__SSE2__)
    if (n >= 16) {
        const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c),
                      vd = _mm_set1_epi8(d);
        auto any = [&](const char* p) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            return _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)),
                                                  _mm_or_si128(_mm_cmpeq_epi8(x, vc), _mm_cmpeq_epi8(x, vd)))) != 0;
        };
        size_t i = 0;
        for (; i + 16 <= n; i += 16)
            if (any(s + i)) return true;
        return i < n && any(s + n - 16);
    }
#endif
    for (size_t i = 0; i < n; ++i)
        if (s[i] == a || s[i] == b || s[i] == c || s[i] == d) return true;
    return false;
}

} // namespace

char* writeCsvField(char* d, std::string_view v, char delimiter) {
    const bool quote = !v.empty() && (v.front() == ' ' || v.back() == ' ' ||
                                      holdsAny(v, delimiter, '"', '\n', '\r'));
    if (!quote) {
        std::memcpy(d, v.data(), v.size());
        return d + v.size();
    }
    *d++ = '"';
    for (char c : v) {
        if (c == '"') *d++ = '"';
        *d++ = c;
    }
    *d++ = '"';
    return d;
}

char* writeTsvField(char* d, std::string_view v) {
    std::memcpy(d, v.data(), v.size());
    if (holdsAny(v, '\t', '\n', '\r', '\t'))
        for (size_t i = 0; i < v.size(); ++i)
            if (d[i] == '\t' || d[i] == '\n' || d[i] == '\r') d[i] = ' ';
    return d + v.size();
}

void appendCsvField(std::string& out, std::string_view v, char delimiter) {
    const size_t at = out.size();
    out.resize(at + 2 * v.size() + 2);
    out.resize(size_t(writeCsvField(&out[at], v, delimiter) - out.data()));
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
