#include "search_core.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

const char* const DbExt[DbExtCount + 1] = {".mdb", ".dsn", ".db", nullptr};

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view SkipBlanks(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    return s.substr(i);
}

// Drops a leading '+', which from_chars does not take; false when another
// sign follows it ("+-5"), so that a number has one sign at most, as "-+5"
// and "--5" (which from_chars refuses) have.
bool DropPlus(const char*& b, const char* e) {
    if (b == e || *b != '+') return true;
    ++b;
    return b == e || (*b != '+' && *b != '-');
}

// A field holding a row ID: digits with an optional sign, blanks around them.
bool ParseId(std::string_view field, int32_t& id) {
    field = SkipBlanks(field);
    while (!field.empty() && (IsBlank(field.back()) || field.back() == '\r'))
        field.remove_suffix(1);
    const char* b = field.data();
    if (!DropPlus(b, field.data() + field.size())) return false;
    field.remove_prefix(static_cast<size_t>(b - field.data()));
    if (field.empty()) return false;
    auto r = std::from_chars(field.data(), field.data() + field.size(), id);
    return r.ec == std::errc() && r.ptr == field.data() + field.size();
}

} // namespace

int CompareText(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(Upper(a[i]));
        const unsigned char y = static_cast<unsigned char>(Upper(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int CompareText(const QString& a, const QString& b) {
    const qsizetype n = std::min(a.size(), b.size());
    const QChar* pa = a.constData();
    const QChar* pb = b.constData();
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = pa[i].unicode(), y = pb[i].unicode();
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - u'a' + u'A');
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - u'a' + u'A');
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::vector<TDbEntry> ListDatabaseFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    struct Found {
        std::string file;
        TDbEntry entry;
    };
    std::vector<Found> found;
    std::error_code ec;
    fs::directory_iterator it(fs::u8path(folder), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        const std::string name = it->path().filename().u8string();
        if (name.empty() || it->is_directory(ignored)) continue;
        const size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot == 0) continue; // no extension, or no name before it
        const std::string_view ext = std::string_view(name).substr(dot);
        for (int32_t tag = 0; tag < DbExtCount; ++tag) {
            if (CompareText(ext, DbExt[tag]) == 0) {
                found.push_back({name, {name.substr(0, dot), tag, name}});
                break;
            }
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        const int c = CompareText(a.file, b.file);
        return c != 0 ? c < 0 : a.file < b.file;
    });
    std::vector<TDbEntry> out;
    out.reserve(found.size());
    for (Found& f : found)
        out.push_back(std::move(f.entry));
    return out;
}

bool UserToDouble(const QString& text, char decSep, double& value) {
    std::string s = text.trimmed().toStdString();
    if (s.empty()) return false;
    if (decSep != '.') {
        // The user's separator, or the point that stands for it; never both.
        const size_t sep = s.find(decSep);
        if (sep != std::string::npos) {
            if (s.find('.') != std::string::npos) return false;
            s[sep] = '.';
        }
    }
    // Only what a positive or negative decimal number is written with: no
    // hexadecimal, infinity or NaN spellings.
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    const char* b = s.data();
    const char* e = b + s.size();
    if (!DropPlus(b, e)) return false;
    double v = 0;
    auto r = std::from_chars(b, e, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool UserToInt(const QString& text, int32_t& value) {
    const std::string s = text.trimmed().toStdString();
    const char* b = s.data();
    const char* e = b + s.size();
    if (!DropPlus(b, e) || b == e) return false;
    int32_t v = 0;
    auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e) return false;
    value = v;
    return true;
}

TMassWindow MassWindow(double typed, double ppm, int ionMode) {
    TMassWindow w;
    // The tolerance belongs to the typed value, before the ion correction.
    w.Tol = (typed / 1000000.0) * ppm;
    w.Mass = typed;
    if (ionMode == ION_MH_PLUS)
        w.Mass += -ProtonMass;
    else if (ionMode == ION_MH_MINUS)
        w.Mass += ProtonMass;
    w.Low = w.Mass - w.Tol;
    w.High = w.Mass + w.Tol;
    return w;
}

void ParseSearchAnswer(std::string_view text, size_t maxRows, std::vector<TAnswerRow>& rows) {
    rows.clear();
    size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    if (!text.empty() && text.back() != '\n') ++lines;
    rows.reserve(std::min(lines, maxRows));

    size_t pos = 0;
    while (pos < text.size() && rows.size() < maxRows) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.back() == ';') line.remove_suffix(1);
        if (SkipBlanks(line).empty()) continue;

        // Field boundaries: start of each field, and the end of the line.
        size_t starts[6];
        size_t nf = 0;
        size_t lastStart = 0;
        size_t fieldCount = 1;
        starts[nf++] = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] != ';') continue;
            ++fieldCount;
            lastStart = i + 1;
            if (nf < 5) starts[nf++] = i + 1;
        }
        auto field = [&](size_t k) -> std::string_view {
            if (k >= nf) return {};
            const size_t b = starts[k];
            const size_t e = k + 1 < nf ? starts[k + 1] - 1 : line.size();
            return SkipBlanks(line.substr(b, e - b));
        };

        TAnswerRow row;
        if (!ParseId(field(0), row.Id)) continue;
        row.Mass = field(1);
        row.Formula = field(2);
        if (fieldCount <= 5) {
            row.Name = field(3);
            row.Smiles = field(4);
        } else {
            // Name runs from the fourth field up to the last ";".
            const size_t b = starts[3];
            row.Name = SkipBlanks(line.substr(b, lastStart - 1 - b));
            row.Smiles = SkipBlanks(line.substr(lastStart));
        }
        rows.push_back(row);
    }
}

std::string_view ZfText(const ZF_Str* s) {
    if (!s || !s->Text || s->Length <= 0) return {};
    return std::string_view(s->Text, strnlen(s->Text, static_cast<size_t>(s->Length)));
}

std::string DbHandleName(std::string_view answer) {
    const char* blanks = " \t\r\n";
    const size_t b = answer.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    const size_t e = answer.find_last_not_of(blanks);
    return std::string(answer.substr(b, e - b + 1));
}
