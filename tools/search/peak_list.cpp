// Peak list readers: one record splitter for CSV and TSV (RFC 4180 quotes at the start of a
// field), a line reader for MGF, and the checks every measured value goes through.
#include "peak_list.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace tvsearch {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::string shown(std::string_view s) {
    std::string r = "\"";
    for (char c : s.substr(0, 40))
        r += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
    if (s.size() > 40) r += "...";
    return r + "\"";
}

std::string extensionOf(const std::string& path) {
    const size_t slash = path.rfind('/'), dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return lower(path.substr(dot + 1));
}

// ---- CSV / TSV records ----------------------------------------------------------------

struct Record {
    long line = 0; // first physical line
    std::vector<std::string> fields;
};

// Splits text into records. A field that starts with a double quote runs to the closing
// quote ("" inside stands for one quote) and may hold delimiters and line breaks.
class RecordReader {
  public:
    RecordReader(std::string_view text, char delimiter) : t_(text), d_(delimiter) {}

    // False at the end. On a quote left open, error is set and false returned.
    bool next(Record& r, std::string& error) {
        r.fields.clear();
        if (i_ >= t_.size()) return false;
        r.line = line_;
        std::string field;
        for (;;) {
            // One field.
            field.clear();
            size_t j = i_;
            while (j < t_.size() && (t_[j] == ' ' || t_[j] == '\t') && t_[j] != d_)
                ++j;
            if (j < t_.size() && t_[j] == '"') {
                const long openLine = line_;
                i_ = j + 1;
                for (;;) {
                    if (i_ >= t_.size()) {
                        error = "a quoted field opened on line " + std::to_string(openLine) +
                                " is never closed";
                        i_ = t_.size();
                        return false;
                    }
                    const char c = t_[i_++];
                    if (c == '"') {
                        if (i_ < t_.size() && t_[i_] == '"') {
                            field += '"';
                            ++i_;
                        } else {
                            break;
                        }
                    } else {
                        if (c == '\n') ++line_;
                        field += c;
                    }
                }
                // Text after the closing quote up to the delimiter is kept as written.
                while (i_ < t_.size() && t_[i_] != d_ && t_[i_] != '\n')
                    field += t_[i_++];
            } else {
                while (i_ < t_.size() && t_[i_] != d_ && t_[i_] != '\n')
                    field += t_[i_++];
            }
            if (!field.empty() && field.back() == '\r') field.pop_back();
            r.fields.push_back(field);
            if (i_ >= t_.size()) return true;
            if (t_[i_] == '\n') {
                ++i_;
                ++line_;
                return true;
            }
            ++i_; // delimiter
        }
    }

  private:
    std::string_view t_;
    char d_;
    size_t i_ = 0;
    long line_ = 1;
};

bool isBlankRecord(const Record& r) {
    for (const std::string& f : r.fields)
        if (!trim(f).empty()) return false;
    return true;
}

char guessDelimiter(std::string_view text) {
    const size_t eol = text.find('\n');
    const std::string_view first = text.substr(0, eol);
    size_t tabs = 0, commas = 0, semis = 0;
    bool inQuote = false;
    for (char c : first) {
        if (c == '"') inQuote = !inQuote;
        if (inQuote) continue;
        tabs += c == '\t';
        commas += c == ',';
        semis += c == ';';
    }
    if (tabs) return '\t';
    if (semis > commas) return ';';
    return ',';
}

// Known header names of each column, in order of preference.
const std::vector<std::string> kMzNames = {"mz", "m/z", "mass", "mzmed", "row m/z", "average mz"};
const std::vector<std::string> kIntensityNames = {"intensity", "height", "area"};
const std::vector<std::string> kRtNames = {"rt", "rtmed", "retention time", "row retention time",
                                           "rt(min)", "average rt(min)"};
const std::vector<std::string> kIdNames = {"id", "row id", "feature id", "alignment id"};
const std::vector<std::string> kIsotopeNames = {"isotopes"};
const std::vector<std::string> kChargeNames = {"charge", "z"};

bool isKnownName(const std::string& lowerName) {
    for (const auto* list :
         {&kMzNames, &kIntensityNames, &kRtNames, &kIdNames, &kIsotopeNames, &kChargeNames})
        if (std::find(list->begin(), list->end(), lowerName) != list->end()) return true;
    return false;
}

// Index (0-based) of a column, -1 when absent. error set when an explicit choice fails.
int resolveColumn(const ColumnRef& ref, const std::vector<std::string>& names,
                  const std::vector<std::string>& header, bool haveHeader, const char* what,
                  std::string& error) {
    if (ref.number > 0) {
        if (haveHeader && ref.number > int(header.size())) {
            error = std::string("the ") + what + " column " + std::to_string(ref.number) +
                    " does not exist: the header has " + std::to_string(header.size()) +
                    " column(s)";
            return -1;
        }
        return ref.number - 1;
    }
    if (!haveHeader) return -1;
    if (!ref.name.empty()) {
        const std::string want = lower(trim(ref.name));
        for (size_t i = 0; i < header.size(); ++i)
            if (lower(trim(header[i])) == want) return int(i);
        std::string list;
        for (const std::string& h : header)
            list += (list.empty() ? "" : ", ") + shown(trim(h));
        error = std::string("no column named ") + shown(ref.name) + " for the " + what +
                " (the header has " + list + ")";
        return -1;
    }
    for (const std::string& n : names)
        for (size_t i = 0; i < header.size(); ++i)
            if (lower(trim(header[i])) == n) return int(i);
    return -1;
}

bool readCharges(std::string_view text, std::vector<PeakRecord::Charge>& out) {
    // "2", "+2", "2+", "-1", "1-", and lists "2+ and 3+", "2+,3+".
    out.clear();
    std::string t(text);
    for (char& c : t)
        if (c == ',') c = ' ';
    std::istringstream in(t);
    std::string w;
    while (in >> w) {
        if (lower(w) == "and") continue;
        int sign = 0;
        if (w.front() == '+' || w.front() == '-') {
            sign = w.front() == '+' ? 1 : -1;
            w.erase(0, 1);
        } else if (w.back() == '+' || w.back() == '-') {
            sign = w.back() == '+' ? 1 : -1;
            w.pop_back();
        }
        int z = 0;
        auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), z);
        if (w.empty() || ec != std::errc() || p != w.data() + w.size() || z < 0 || z > 99)
            return false;
        if (z == 0) continue; // 0: not known
        out.push_back({z, sign});
    }
    return true;
}

// Checks one measured m/z text; empty reason when fine.
std::string checkMz(std::string_view text, double& mz, bool allowComma) {
    const std::string_view t = trim(text);
    if (t.empty()) return "the m/z is empty";
    if (!readNumber(t, mz, allowComma)) {
        const std::string l = lower(t);
        if (l.find("nan") != std::string::npos) return "the m/z " + shown(t) + " is not a number";
        if (l.find("inf") != std::string::npos) return "the m/z " + shown(t) + " is infinite";
        return "the m/z " + shown(t) + " is not a number";
    }
    if (!(mz > 0)) return "the m/z " + std::string(t) + " is not positive";
    if (mz > kMaxMz)
        return "the m/z " + std::string(t) + " is out of range (at most " +
               std::to_string(int(kMaxMz)) + ")";
    return {};
}

std::string checkIntensity(std::string_view text, double& v, bool allowComma) {
    const std::string_view t = trim(text);
    if (t.empty()) return {};
    if (!readNumber(t, v, allowComma)) return "the intensity " + shown(t) + " is not a number";
    if (v < 0) return "the intensity " + std::string(t) + " is negative";
    return {};
}

std::string checkRt(std::string_view text, double& v, bool allowComma) {
    const std::string_view t = trim(text);
    if (t.empty()) return {};
    if (!readNumber(t, v, allowComma)) return "the retention time " + shown(t) + " is not a number";
    return {};
}

// Records a bad line: skipped, or the end of reading when strict. False: stop.
bool badLine(PeakList& list, long line, std::string reason, bool strict) {
    list.skipped.push_back({line, std::move(reason)});
    if (!strict) return true;
    list.status = PeakList::BadLine;
    list.error = "line " + std::to_string(line) + ": " + list.skipped.back().reason;
    list.peaks.clear();
    return false;
}

void finish(PeakList& list, bool sawData) {
    if (list.status != PeakList::Ok) return;
    if (list.peaks.empty()) {
        list.status = PeakList::NoPeaks;
        if (!list.skipped.empty())
            list.error = "no usable peak: every data line was refused (" +
                         std::to_string(list.skipped.size()) + " line(s); first: line " +
                         std::to_string(list.skipped.front().line) + ": " +
                         list.skipped.front().reason + ")";
        else
            list.error = sawData ? "no peaks" : "no peaks: the file holds only a header";
    }
}

PeakList parseDelimited(std::string_view text, const PeakListOptions& o, char delimiter) {
    PeakList list;
    RecordReader reader(text, delimiter);
    const bool allowComma = delimiter == ';';
    Record r;
    std::string error;

    // The first record that is not blank: header or data.
    bool have = false;
    while (reader.next(r, error)) {
        if (!isBlankRecord(r)) {
            have = true;
            break;
        }
    }
    if (!error.empty()) {
        list.status = PeakList::Unreadable;
        list.error = error;
        return list;
    }
    if (!have) {
        list.status = PeakList::Empty;
        list.error = "the file is empty";
        return list;
    }

    bool header = o.header == 1;
    if (o.header == -1) {
        bool anyNumber = false, anyKnown = false;
        for (const std::string& f : r.fields) {
            double v;
            anyNumber = anyNumber || readNumber(trim(f), v, allowComma);
            anyKnown = anyKnown || isKnownName(lower(trim(f)));
        }
        const bool byName = !o.mz.name.empty() || !o.intensity.name.empty() ||
                            !o.rt.name.empty() || !o.id.name.empty() ||
                            !o.isotopes.name.empty() || !o.charge.name.empty();
        header = byName || anyKnown || !anyNumber;
    }
    const std::vector<std::string> names = header ? r.fields : std::vector<std::string>();
    if (!header) {
        for (const ColumnRef* c : {&o.mz, &o.intensity, &o.rt, &o.id, &o.isotopes, &o.charge})
            if (!c->name.empty()) {
                list.status = PeakList::BadColumns;
                list.error = "the column " + shown(c->name) +
                             " is chosen by name, but the file has no header line";
                return list;
            }
    }

    int cMz = resolveColumn(o.mz, kMzNames, names, header, "m/z", error);
    int cInt = error.empty() ? resolveColumn(o.intensity, kIntensityNames, names, header,
                                             "intensity", error) : -1;
    int cRt = error.empty() ? resolveColumn(o.rt, kRtNames, names, header, "retention time", error)
                            : -1;
    int cId = error.empty() ? resolveColumn(o.id, kIdNames, names, header, "id", error) : -1;
    int cIso = error.empty() ? resolveColumn(o.isotopes, kIsotopeNames, names, header, "isotopes",
                                             error) : -1;
    int cZ = error.empty() ? resolveColumn(o.charge, kChargeNames, names, header, "charge", error)
                           : -1;
    if (!error.empty()) {
        list.status = PeakList::BadColumns;
        list.error = error;
        return list;
    }
    if (!header) {
        // Without a header: m/z in column 1 and intensity in column 2, unless chosen.
        if (cMz < 0) cMz = 0;
        if (cInt < 0 && o.intensity.empty() && r.fields.size() >= 2 && cMz != 1) cInt = 1;
    }
    if (cMz < 0) {
        std::string hl;
        for (const std::string& h : names)
            hl += (hl.empty() ? "" : ", ") + shown(trim(h));
        list.status = PeakList::BadColumns;
        list.error = "no m/z column: the header has " + hl +
                     " (name it mz, m/z or mass, or choose it with --mz-col)";
        return list;
    }
    list.hasIntensity = cInt >= 0;
    list.hasRt = cRt >= 0;
    list.hasIsotopes = cIso >= 0;
    list.hasCharge = cZ >= 0;
    auto describeCol = [&](const char* what, int c) {
        if (c < 0) return std::string();
        std::string d = std::string(what) + ": column " + std::to_string(c + 1);
        if (header && c < int(names.size())) d += " (" + std::string(trim(names[size_t(c)])) + ")";
        return d;
    };
    for (auto [what, c] : {std::pair<const char*, int>{"m/z", cMz}, {"intensity", cInt},
                           {"rt", cRt}, {"id", cId}, {"isotopes", cIso}, {"charge", cZ}}) {
        std::string d = describeCol(what, c);
        if (!d.empty()) list.columns += (list.columns.empty() ? "" : ", ") + d;
    }

    bool sawData = false;
    bool first = !header; // the record in r is data when there is no header
    for (;;) {
        if (!first) {
            if (!reader.next(r, error)) break;
        }
        first = false;
        if (isBlankRecord(r)) continue;
        sawData = true;
        auto field = [&](int c) -> std::string_view {
            return c >= 0 && size_t(c) < r.fields.size() ? trim(r.fields[size_t(c)])
                                                         : std::string_view();
        };
        if (size_t(cMz) >= r.fields.size()) {
            if (!badLine(list, r.line,
                         "the line has " + std::to_string(r.fields.size()) +
                             " field(s); the m/z is in column " + std::to_string(cMz + 1),
                         o.strict))
                return list;
            continue;
        }
        PeakRecord p;
        p.line = r.line;
        std::string why = checkMz(field(cMz), p.mz, allowComma);
        if (why.empty() && cInt >= 0) why = checkIntensity(field(cInt), p.intensity, allowComma);
        if (why.empty() && cRt >= 0) why = checkRt(field(cRt), p.rt, allowComma);
        if (why.empty() && cZ >= 0 && !readCharges(field(cZ), p.charges))
            why = "the charge " + shown(field(cZ)) + " is not a charge";
        if (why.empty() && cIso >= 0 && !field(cIso).empty()) {
            std::string e;
            if (!parseIsotopeText(field(cIso), p.isotopes, e, allowComma))
                why = "the isotopes " + shown(field(cIso)) + ": " + e;
            p.hasIsotopes = true;
        }
        if (!why.empty()) {
            if (!badLine(list, r.line, why, o.strict)) return list;
            continue;
        }
        p.mzText = std::string(field(cMz));
        if (cInt >= 0) p.intensityText = std::string(field(cInt));
        if (cRt >= 0) p.rtText = std::string(field(cRt));
        p.id = cId >= 0 ? std::string(field(cId)) : std::string();
        if (p.id.empty()) p.id = std::to_string(r.line);
        list.peaks.push_back(std::move(p));
    }
    if (!error.empty()) {
        // An unclosed quote swallows the rest of the file: that is one bad line, reported
        // where it started.
        if (!badLine(list, r.line, error, o.strict)) return list;
    }
    finish(list, sawData);
    return list;
}

// ---- MGF ------------------------------------------------------------------------------

PeakList parseMgf(std::string_view text, const PeakListOptions& o) {
    PeakList list;
    list.hasIntensity = true;
    list.columns = "PEPMASS of each spectrum";
    long lineNo = 0;
    size_t i = 0;
    bool inSpectrum = false, sawSpectrum = false, bad = false;
    long specLine = 0, specNo = 0;
    PeakRecord cur;
    std::string title, scans;
    bool havePepmass = false;
    std::vector<PeakRecord::Charge> globalCharges;
    bool anyContent = false;

    auto startSpectrum = [&](long line) {
        inSpectrum = true;
        sawSpectrum = true;
        bad = false;
        specLine = line;
        ++specNo;
        cur = PeakRecord();
        cur.line = line;
        cur.charges = globalCharges;
        title.clear();
        scans.clear();
        havePepmass = false;
    };
    auto endSpectrum = [&]() -> bool {
        inSpectrum = false;
        if (bad) return true;
        if (!havePepmass)
            return badLine(list, specLine, "the spectrum has no PEPMASS", o.strict);
        cur.id = !title.empty() ? title : !scans.empty() ? scans : std::to_string(specNo);
        list.peaks.push_back(std::move(cur));
        return true;
    };

    while (i < text.size()) {
        size_t e = text.find('\n', i);
        if (e == std::string_view::npos) e = text.size();
        const std::string_view line = trim(text.substr(i, e - i));
        i = e + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '!') continue;
        anyContent = true;
        const std::string up = lower(line);
        if (up == "begin ions") {
            if (inSpectrum) {
                if (!badLine(list, specLine, "the spectrum has no END IONS", o.strict)) return list;
            }
            startSpectrum(lineNo);
            continue;
        }
        if (up == "end ions") {
            if (!inSpectrum) {
                if (!badLine(list, lineNo, "END IONS without BEGIN IONS", o.strict)) return list;
                continue;
            }
            if (!endSpectrum()) return list;
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            if (!inSpectrum && !badLine(list, lineNo, "text outside a spectrum: " + shown(line),
                                        o.strict))
                return list;
            continue; // fragment peaks inside a spectrum
        }
        const std::string key = lower(trim(line.substr(0, eq)));
        const std::string_view value = trim(line.substr(eq + 1));
        if (!inSpectrum) {
            if (key == "charge" && !readCharges(value, globalCharges) &&
                !badLine(list, lineNo, "the CHARGE " + shown(value) + " is not a charge", o.strict))
                return list;
            continue;
        }
        if (bad) continue;
        std::string why;
        if (key == "pepmass") {
            // "PEPMASS=m/z [intensity [charge]]"
            std::string_view v = value;
            const size_t sp = v.find_first_of(" \t");
            const std::string_view mz = v.substr(0, sp);
            const std::string_view rest = sp == std::string_view::npos ? "" : trim(v.substr(sp));
            why = checkMz(mz, cur.mz, false);
            if (why.empty() && !rest.empty()) {
                const size_t sp2 = rest.find_first_of(" \t");
                const std::string_view in = rest.substr(0, sp2);
                why = checkIntensity(in, cur.intensity, false);
                if (why.empty()) cur.intensityText = std::string(in);
            }
            if (why.empty()) {
                cur.mzText = std::string(mz);
                havePepmass = true;
            }
        } else if (key == "charge") {
            if (!readCharges(value, cur.charges)) why = "the CHARGE " + shown(value) + " is not a charge";
        } else if (key == "title") {
            title = std::string(value);
        } else if (key == "scans") {
            scans = std::string(value);
        } else if (key == "rtinseconds") {
            why = checkRt(value, cur.rt, false);
            if (why.empty()) cur.rtText = std::string(value);
        }
        if (!why.empty()) {
            bad = true;
            if (!badLine(list, lineNo, why, o.strict)) return list;
        }
    }
    if (inSpectrum && !badLine(list, specLine, "the file ends inside a spectrum (no END IONS)",
                               o.strict))
        return list;
    if (!anyContent) {
        list.status = PeakList::Empty;
        list.error = "the file is empty";
        return list;
    }
    for (const PeakRecord& p : list.peaks) {
        list.hasRt = list.hasRt || !p.rtText.empty();
        list.hasCharge = list.hasCharge || !p.charges.empty();
    }
    if (!sawSpectrum && list.status == PeakList::Ok && list.skipped.empty()) {
        list.status = PeakList::NoPeaks;
        list.error = "no spectrum (BEGIN IONS ... END IONS) in the file";
        return list;
    }
    finish(list, true);
    return list;
}

} // namespace

ColumnRef ColumnRef::parse(const std::string& text) {
    ColumnRef r;
    const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
    if (digits && text.size() < 6)
        r.number = std::max(1, std::stoi(text));
    else
        r.name = text;
    return r;
}

bool readNumber(std::string_view text, double& value, bool allowComma) {
    std::string_view t = trim(text);
    if (t.empty()) return false;
    std::string buf;
    if (allowComma && t.find(',') != std::string_view::npos && t.find('.') == std::string_view::npos) {
        buf = std::string(t);
        std::replace(buf.begin(), buf.end(), ',', '.');
        t = buf;
    }
    // One sign at most: "+-5" is no number.
    const bool plus = t.front() == '+';
    if (plus) t.remove_prefix(1);
    if (t.empty() || !(std::isdigit(static_cast<unsigned char>(t.front())) || t.front() == '.' ||
                       (!plus && t.front() == '-')))
        return false;
    // Only decimal digits, one point and an exponent: no "nan", "inf" or hexadecimal.
    for (char c : t)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
              c == 'e' || c == 'E'))
            return false;
    double v = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || p != t.data() + t.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool parseIsotopeText(std::string_view text, std::vector<ClusterPeak>& out, std::string& error,
                      bool allowComma) {
    out.clear();
    size_t i = 0;
    while (i <= text.size()) {
        size_t e = text.find(';', i);
        if (e == std::string_view::npos) e = text.size();
        const std::string_view pair = trim(text.substr(i, e - i));
        i = e + 1;
        if (pair.empty()) {
            if (e >= text.size()) break;
            continue;
        }
        const size_t colon = pair.find(':');
        ClusterPeak p;
        if (colon == std::string_view::npos) {
            error = "the pair " + shown(pair) + " lacks the ':' between m/z and intensity";
            return false;
        }
        if (!readNumber(pair.substr(0, colon), p.mz, allowComma) || !(p.mz > 0) || p.mz > kMaxMz) {
            error = "the m/z of " + shown(pair) + " is not a positive number";
            return false;
        }
        if (!readNumber(pair.substr(colon + 1), p.intensity, allowComma) || p.intensity < 0) {
            error = "the intensity of " + shown(pair) + " is not a number of at least 0";
            return false;
        }
        out.push_back(p);
        if (e >= text.size()) break;
    }
    std::sort(out.begin(), out.end(),
              [](const ClusterPeak& a, const ClusterPeak& b) { return a.mz < b.mz; });
    return true;
}

PeakList parsePeakList(std::string_view text, const PeakListOptions& o,
                       const std::string& pathForFormat) {
    try {
        // A byte-order mark at the start is no part of the first column's name.
        if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        ListFormat f = o.format;
        const std::string ext = extensionOf(pathForFormat);
        if (f == ListFormat::Auto) {
            if (ext == "mgf")
                f = ListFormat::Mgf;
            else if (ext == "tsv" || ext == "tab")
                f = ListFormat::Tsv;
            else if (ext == "csv")
                f = ListFormat::Csv;
            else {
                const std::string_view head = trim(text.substr(0, 4096));
                f = lower(head.substr(0, 10)) == "begin ions" ||
                            lower(head).find("\nbegin ions") != std::string::npos
                        ? ListFormat::Mgf
                        : ListFormat::Csv;
            }
        }
        if (f == ListFormat::Mgf) return parseMgf(text, o);
        char d = o.delimiter;
        if (!d) d = f == ListFormat::Tsv ? '\t' : guessDelimiter(text);
        return parseDelimited(text, o, d);
    } catch (const std::bad_alloc&) {
        PeakList l;
        l.status = PeakList::Unreadable;
        l.error = "out of memory";
        return l;
    }
}

PeakList readPeakList(const std::string& path, const PeakListOptions& o) {
    std::string text;
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            PeakList l;
            l.status = PeakList::Unreadable;
            l.error = "cannot read standard input";
            return l;
        }
    } else {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            PeakList l;
            l.status = PeakList::Unreadable;
            l.error = "cannot read " + path + ": it is a folder";
            return l;
        }
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            PeakList l;
            l.status = PeakList::Unreadable;
            l.error = "cannot open " + path + ": " + std::strerror(errno);
            return l;
        }
        std::ostringstream ss;
        ss << in.rdbuf();
        if (in.bad()) {
            PeakList l;
            l.status = PeakList::Unreadable;
            l.error = "cannot read " + path + ": " + std::strerror(errno);
            return l;
        }
        text = ss.str();
    }
    return parsePeakList(text, o, path == "-" ? std::string() : path);
}

} // namespace tvsearch
