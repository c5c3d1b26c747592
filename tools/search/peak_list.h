#pragma once
// Peak lists: CSV/TSV tables with a header naming the columns (or columns chosen by number),
// and MGF files (the PEPMASS of each spectrum). Numbers are read with the C locale; in a
// file separated by semicolons a decimal comma is accepted too. A line that cannot be used
// is reported with its line number and skipped (or ends the reading when strict).
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace tvsearch {

// The largest m/z taken as a measurement; anything above is refused as absurd.
constexpr double kMaxMz = 100000.0;

struct ClusterPeak {
    double mz = 0;
    double intensity = 0;
};

struct PeakRecord {
    std::string id;            // as read; the peak's number when the list has no id
    std::string mzText;        // the fields as read, trimmed
    std::string intensityText; // empty when not given
    std::string rtText;        // empty when not given
    double mz = 0;
    double intensity = std::numeric_limits<double>::quiet_NaN(); // NaN: not given
    double rt = std::numeric_limits<double>::quiet_NaN();        // NaN: not given
    // Charges the peak may carry: signed (+2) or only a magnitude (sign 0). Empty: any.
    struct Charge {
        int magnitude;
        int sign; // +1, -1, or 0 when not given
    };
    std::vector<Charge> charges;
    bool hasIsotopes = false;          // the list gave this peak's cluster ("isotopes" column)
    std::vector<ClusterPeak> isotopes; // that cluster, as given
    long line = 0;                     // line of the file where the record starts
};

// A column chosen by header name (any case) or by 1-based number.
struct ColumnRef {
    std::string name;
    int number = 0;
    bool empty() const { return name.empty() && number == 0; }
    static ColumnRef parse(const std::string& text); // all digits: a number, else a name
};

enum class ListFormat { Auto, Csv, Tsv, Mgf };

struct PeakListOptions {
    ListFormat format = ListFormat::Auto;
    ColumnRef mz, intensity, rt, id, isotopes, charge;
    int header = -1;     // 1 the first line names the columns, 0 it is data, -1 decide
    char delimiter = 0;  // 0: by the format or the first line
    bool strict = false; // the first bad line ends the reading
};

struct LineIssue {
    long line;
    std::string reason;
};

struct PeakList {
    enum Status { Ok, Unreadable, BadLine, Empty, NoPeaks, BadColumns };
    Status status = Ok;
    std::string error; // the reason when status != Ok
    std::vector<PeakRecord> peaks;
    std::vector<LineIssue> skipped; // lines left out (Ok), or the line that ended it (BadLine)
    bool hasIntensity = false, hasRt = false, hasIsotopes = false, hasCharge = false;
    std::string columns; // what was read from where, for the summary ("m/z: column 2 (mz), ...")
};

// Reads a file ("-" is standard input). The format comes from options, else the extension
// (.mgf; .tsv/.tab/.txt tab-separated; otherwise CSV), else the content.
PeakList readPeakList(const std::string& path, const PeakListOptions& options);

// Parses text already read; sourceName appears in messages only.
PeakList parsePeakList(std::string_view text, const PeakListOptions& options,
                       const std::string& pathForFormat = {});

// Reads a number as a whole field: C locale, optional sign, decimals, exponent; with
// allowComma a single decimal comma is taken as the point. False for anything else
// (blank, trailing text, "nan", "inf", hexadecimal).
bool readNumber(std::string_view text, double& value, bool allowComma = false);

// The cluster text of an "isotopes" column: "m/z:intensity" pairs separated by ";" (blanks
// allowed). False with a reason when a pair does not read.
bool parseIsotopeText(std::string_view text, std::vector<ClusterPeak>& out, std::string& error,
                      bool allowComma = false);

} // namespace tvsearch
