// Fuzz target: the peak lists tarvish-search reads from the user (CSV, TSV and MGF, with
// their columns chosen by name or number, isotope clusters and charges).
//
// Input: a byte of options (format, header, strict, delimiter, columns chosen or not), the
// column choices for m/z, intensity, isotopes and charge, then the peak list. Properties:
//  - a list that reads holds peaks, each with a positive finite m/z of at most kMaxMz, and
//    says nothing went wrong; one that does not read says why;
//  - every skipped line and every peak names a line of the text;
//  - a number read as a whole field is what the C library reads from it, and a field the C
//    library reads only in part is refused;
//  - an isotope cluster that reads is sorted by m/z, each peak within range.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

#include "fuzz_input.h"
#include "peak_list.h"

namespace {

// strtod in the C locale; end set past the characters it used.
double cNumber(const std::string& s, size_t& end) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char* e = nullptr;
    const double v = strtod_l(s.c_str(), &e, c);
    end = size_t(e - s.c_str());
    return v;
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    FuzzInput in(data, size);
    const uint8_t mode = in.byte();
    tvsearch::PeakListOptions o;
    o.format = static_cast<tvsearch::ListFormat>(mode & 3);
    o.header = int((mode >> 2) % 3) - 1;
    o.strict = mode & 0x10;
    static const char delimiters[] = {0, ',', ';', '\t'};
    o.delimiter = delimiters[(mode >> 5) & 3];
    const std::string mz = in.shortString(16), intensity = in.shortString(16);
    const std::string isotopes = in.shortString(16), charge = in.shortString(16);
    if (mode & 0x80) {
        o.mz = tvsearch::ColumnRef::parse(mz);
        o.intensity = tvsearch::ColumnRef::parse(intensity);
        o.isotopes = tvsearch::ColumnRef::parse(isotopes);
        o.charge = tvsearch::ColumnRef::parse(charge);
    }
    const std::string text = in.rest();

    const long lines = long(std::count(text.begin(), text.end(), '\n')) + 1;
    const tvsearch::PeakList list = tvsearch::parsePeakList(text, o, "fuzz");
    if (list.status == tvsearch::PeakList::Ok) {
        FUZZ_CHECK(!list.peaks.empty(), "a list read without peaks");
        FUZZ_CHECK(list.error.empty());
    } else {
        FUZZ_CHECK(!list.error.empty(), "status %d without a reason", int(list.status));
    }
    for (const tvsearch::PeakRecord& p : list.peaks) {
        FUZZ_CHECK(std::isfinite(p.mz) && p.mz > 0 && p.mz <= tvsearch::kMaxMz, "m/z %g", p.mz);
        FUZZ_CHECK(p.line >= 1 && p.line <= lines, "peak at line %ld of %ld", p.line, lines);
        FUZZ_CHECK(!p.mzText.empty());
        FUZZ_CHECK(std::isnan(p.intensity) || p.intensity >= 0, "intensity %g", p.intensity);
        for (const tvsearch::ClusterPeak& c : p.isotopes)
            FUZZ_CHECK(std::isfinite(c.mz) && c.mz > 0 && c.mz <= tvsearch::kMaxMz);
        for (const auto& c : p.charges)
            FUZZ_CHECK(c.magnitude > 0 && c.magnitude <= 99 && c.sign >= -1 && c.sign <= 1);
    }
    for (const tvsearch::LineIssue& l : list.skipped) {
        FUZZ_CHECK(l.line >= 1 && l.line <= lines, "issue at line %ld of %ld", l.line, lines);
        FUZZ_CHECK(!l.reason.empty());
    }

    // Whole-field numbers against the C library.
    for (const std::string& field : {mz, intensity, isotopes, charge}) {
        double v = 0;
        size_t end = 0;
        const double c = cNumber(field, end);
        const bool whole = end > 0 && std::all_of(field.begin() + long(end), field.end(), blank);
        if (tvsearch::readNumber(field, v)) {
            FUZZ_CHECK(std::isfinite(v), "\"%s\" read as %g", field.c_str(), v);
            FUZZ_CHECK(whole && v == c, "\"%s\" read as %.17g, by the C library as %.17g",
                       field.c_str(), v, c);
        }
        std::vector<tvsearch::ClusterPeak> cluster;
        std::string error;
        if (tvsearch::parseIsotopeText(field, cluster, error)) {
            for (size_t i = 1; i < cluster.size(); ++i)
                FUZZ_CHECK(cluster[i - 1].mz <= cluster[i].mz, "cluster not sorted");
            for (const tvsearch::ClusterPeak& p : cluster)
                FUZZ_CHECK(p.mz > 0 && p.mz <= tvsearch::kMaxMz && p.intensity >= 0);
        } else {
            FUZZ_CHECK(!error.empty());
        }
    }
    return 0;
}
