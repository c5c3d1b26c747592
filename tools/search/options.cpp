// Command-line parsing of tarvish-search.
#include "options.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace tvsearch {
namespace {

const char* const kUsage = R"(Usage: tarvish-search [options] -d DATABASE (-m MASSES | PEAKLIST)

Looks up measured m/z values in a molecule database as every ion they may be,
with the error of each hit in ppm and a score of its isotope pattern. Writes
one row per peak, ion and hit.

Input:
  -m, --mass LIST          m/z values, separated by commas ("-m 181.0707,203.0526")
  PEAKLIST, -i FILE        a peak list: CSV/TSV with a header (columns found by
                           name: mz, m/z or mass; intensity; rt; id; isotopes;
                           charge - any case), or MGF (PEPMASS, CHARGE, TITLE,
                           RTINSECONDS of each spectrum); "-" reads standard input
      --input-format F     csv, tsv or mgf (default: by extension, else content)
      --mz-col C, --intensity-col C, --rt-col C, --id-col C, --isotopes-col C,
      --charge-col C       a column by header name or 1-based number
      --header, --no-header  the first line names the columns, or is data
                           (without a header: m/z column 1, intensity column 2)
      --delimiter C        field separator ("," ";" or "tab"; default: guessed)
      --strict             a malformed line ends the run (default: reported
                           with its line number and skipped)

Database:
  -d, --database DB        a .db, .mdb or .dsn file, or the name of one in the
                           data directory's Databases folder ("Metabolites")
      --data-dir DIR       the host's data directory (default
                           $XDG_DATA_HOME/tarvish/, i.e. ~/.local/share/tarvish/)
      --list-databases     list the databases of the data directory and exit

Search:
      --ppm P              tolerance in ppm of the m/z (default 5)
      --da D               tolerance in Da (m/z units) instead
                           A hit is kept when its ion's theoretical m/z lies
                           within the tolerance of the measured m/z:
                           |measured - theoretical| / theoretical x 1e6 <= P;
                           each ion's neutral-mass window follows from that.
      --ions LIST          ions, separated by commas: [M+H]+,[M+Na]+,[M-H2O+H]+,
                           [M+2H]2+,[2M+Na]+,[M+CH3CN+H]+,[M-H]-,[M+Cl]-,M ...
                           written [nM+part-part...]z+ with parts as formulas
                           with an optional count (2H, H2O, HCOO) or ACN, FA,
                           HAc, TFA, MeOH, EtOH, IPA, DMSO
      --positive           the common positive ESI ions (default): [M+H]+,
                           [M+NH4]+, [M+Na]+, [M+K]+, [M+H-H2O]+, [M+CH3OH+H]+,
                           [M+CH3CN+H]+, [M+2Na-H]+, [M+2H]2+, [M+H+Na]2+,
                           [2M+H]+, [2M+Na]+
      --negative           the common negative ESI ions: [M-H]-, [M-H-H2O]-,
                           [M+Cl]-, [M+Br]-, [M+HCOO]-, [M+CH3COO]-,
                           [M+Na-2H]-, [M+K-2H]-, [M-2H]2-, [2M-H]-,
                           [2M+HCOO]-, [3M-H]-
      --list-ions          print the chosen ions with their mass terms and exit
      --top K              keep the best K rows of each peak
      --no-hits            also write a row for each peak and ion without a hit
      --no-isotopes        do not score isotope patterns
      --rt-tol T           isotope peaks of a cluster lie within T of the peak's
                           retention time (default 0.1, in the list's unit)

Output:
  -o, --output FILE        the results (default: standard output); written to a
                           temporary file that replaces FILE only when complete
      --format F           csv, tsv, xlsx or jsonl (default: by the extension
                           of FILE, else csv)
  -q, --quiet              no summary line
      --progress, --no-progress  a progress bar on standard error (default: when
                           it is a terminal)
      --timing             the time spent in queries, isotope scores and output
  -h, --help               this text

Columns: peak_id, mz, intensity, rt (as read), ion, neutral_mass, hit_id,
hit_mass, theoretical_mz, delta_ppm (measured - theoretical, ppm of the
theoretical m/z), isotope_rms, isotope_cosine, formula, name, smiles. Rows of a
peak are ordered by isotope_cosine (best first; rows without a score last),
then |delta_ppm|.

Exit status: 0 done; 1 bad arguments; 2 the peak list cannot be read or holds
no usable peak; 3 the database cannot be opened or queried; 4 the results
cannot be written; 5 done, but lines of the peak list were skipped.
)";

bool toDouble(const std::string& s, double& v) {
    return readNumber(s, v) && std::isfinite(v);
}

bool toLong(const std::string& s, long& v) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && ec == std::errc() && p == s.data() + s.size();
}

void appendIons(std::vector<Ion>& ions, const std::vector<std::string>& set) {
    for (const std::string& t : set) {
        bool dup = false;
        for (const Ion& i : ions)
            dup = dup || i.text == t;
        if (!dup) ions.push_back(parseIon(t).ion);
    }
}

} // namespace

std::string searchUsage() {
    return kUsage;
}

int parseSearchArgs(const std::vector<std::string>& args, SearchOptions& o, std::string& out,
                    std::string& error) {
    auto bad = [&](std::string why) {
        error = std::move(why);
        return int(kExitUsage);
    };
    bool ionsGiven = false, positive = false, negative = false, tolGiven = false;
    std::vector<std::string> inputs;
    std::string ionList;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        auto takeValue = [&](const char* opt) {
            const size_t n = std::strlen(opt);
            if (a.compare(0, n, opt) == 0 && a.size() > n && a[n] == '=' && opt[1] == '-') {
                value = a.substr(n + 1);
                return true;
            }
            if (a == opt) {
                if (i + 1 >= args.size()) throw std::invalid_argument(std::string(opt) + " needs a value");
                value = args[++i];
                return true;
            }
            return false;
        };
        try {
            if (a == "-h" || a == "--help") {
                out = kUsage;
                return kExitOk;
            } else if (a == "-q" || a == "--quiet") {
                o.quiet = true;
            } else if (a == "--timing") {
                o.timing = true;
            } else if (a == "--progress") {
                o.progress = 1;
            } else if (a == "--no-progress") {
                o.progress = 0;
            } else if (a == "--strict") {
                o.list.strict = true;
            } else if (a == "--header") {
                o.list.header = 1;
            } else if (a == "--no-header") {
                o.list.header = 0;
            } else if (a == "--no-hits") {
                o.noHits = true;
            } else if (a == "--no-isotopes") {
                o.isotopes = false;
            } else if (a == "--positive") {
                positive = true;
            } else if (a == "--negative") {
                negative = true;
            } else if (a == "--list-databases") {
                o.listDatabases = true;
            } else if (a == "--list-ions") {
                o.listIons = true;
            } else if (takeValue("-m") || takeValue("--mass")) {
                size_t s = 0;
                while (s <= value.size()) {
                    size_t e = value.find_first_of(", ;", s);
                    if (e == std::string::npos) e = value.size();
                    if (e > s) o.masses.push_back(value.substr(s, e - s));
                    s = e + 1;
                }
            } else if (takeValue("-i") || takeValue("--input")) {
                inputs.push_back(value);
            } else if (takeValue("-d") || takeValue("--database")) {
                o.database = value;
            } else if (takeValue("--data-dir")) {
                o.dataDir = value;
            } else if (takeValue("--ppm") || takeValue("--da")) {
                const bool ppm = a.rfind("--ppm", 0) == 0;
                double v;
                if (!toDouble(value, v) || !(v > 0))
                    return bad(a.substr(0, ppm ? 5 : 4) + " needs a positive number, not \"" +
                                   value + "\"");
                if (ppm && v >= 1e6) return bad("--ppm must be below 1000000");
                if (tolGiven) return bad("give either --ppm or --da, once");
                tolGiven = true;
                o.tolerance = Tolerance{ppm, v};
            } else if (takeValue("--ions")) {
                ionsGiven = true;
                ionList += (ionList.empty() ? "" : ",") + value;
            } else if (takeValue("-o") || takeValue("--output")) {
                o.output = value;
            } else if (takeValue("--format")) {
                if (!outputFormatFromName(value, o.format))
                    return bad("unknown output format \"" + value + "\" (csv, tsv, xlsx, jsonl)");
                o.formatSet = true;
            } else if (takeValue("--input-format")) {
                if (value == "csv")
                    o.list.format = ListFormat::Csv;
                else if (value == "tsv")
                    o.list.format = ListFormat::Tsv;
                else if (value == "mgf")
                    o.list.format = ListFormat::Mgf;
                else
                    return bad("unknown input format \"" + value + "\" (csv, tsv, mgf)");
            } else if (takeValue("--delimiter")) {
                if (value == "tab" || value == "\\t") value = "\t";
                if (value.size() != 1 || value == "\"" || value == "\n")
                    return bad("the delimiter must be one character");
                o.list.delimiter = value[0];
            } else if (takeValue("--mz-col")) {
                o.list.mz = ColumnRef::parse(value);
            } else if (takeValue("--intensity-col")) {
                o.list.intensity = ColumnRef::parse(value);
            } else if (takeValue("--rt-col")) {
                o.list.rt = ColumnRef::parse(value);
            } else if (takeValue("--id-col")) {
                o.list.id = ColumnRef::parse(value);
            } else if (takeValue("--isotopes-col")) {
                o.list.isotopes = ColumnRef::parse(value);
            } else if (takeValue("--charge-col")) {
                o.list.charge = ColumnRef::parse(value);
            } else if (takeValue("--top")) {
                if (!toLong(value, o.top) || o.top < 1)
                    return bad("--top needs a positive whole number, not \"" + value + "\"");
            } else if (takeValue("--rt-tol")) {
                if (!toDouble(value, o.rtTolerance) || o.rtTolerance < 0)
                    return bad("--rt-tol needs a number of at least 0, not \"" + value + "\"");
            } else if (a.size() > 1 && a[0] == '-') {
                return bad("unknown option " + a);
            } else {
                inputs.push_back(a);
            }
        } catch (const std::invalid_argument& e) {
            error = e.what();
            return kExitUsage;
        }
    }

    if (ionsGiven && !parseIonList(ionList, o.ions, error)) return kExitUsage;
    if (positive) appendIons(o.ions, positiveIonSet());
    if (negative) appendIons(o.ions, negativeIonSet());
    if (!ionsGiven && !positive && !negative) {
        appendIons(o.ions, positiveIonSet());
        o.ionsDescription = "the positive set";
    } else if (!ionsGiven) {
        o.ionsDescription = positive && negative ? "the positive and negative sets"
                                                 : positive ? "the positive set" : "the negative set";
    }
    if (o.listDatabases || o.listIons) return -1;

    if (inputs.size() > 1) return bad("give one peak list");
    if (!inputs.empty()) o.input = inputs.front();
    if (!o.input.empty() && !o.masses.empty())
        return bad("give either masses (-m) or a peak list, not both");
    if (o.input.empty() && o.masses.empty())
        return bad("no masses (-m) and no peak list given");
    if (o.database.empty()) return bad("no database (-d)");
    if (!o.formatSet && !o.output.empty() && o.output != "-" &&
        !outputFormatFromPath(o.output, o.format))
        o.format = OutputFormat::Csv;
    return -1;
}

} // namespace tvsearch
