#pragma once
// The command line of tarvish-search.
#include <string>
#include <vector>

#include "adduct.h"
#include "peak_list.h"
#include "result_writer.h"
#include "tolerance.h"

namespace tvsearch {

// Exit status of the tool.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,    // bad arguments (options, ion texts, masses on the command line)
    kExitInput = 2,    // the peak list cannot be read or holds no usable peak
    kExitDatabase = 3, // the database cannot be opened or queried
    kExitOutput = 4,   // the results cannot be written
    kExitSkipped = 5,  // results written, but lines of the peak list were skipped
    kExitInternal = 6, // an unexpected failure (out of memory, ...)
};

struct SearchOptions {
    std::vector<std::string> masses; // -m texts, in order
    std::string input;               // peak list; "-" standard input
    PeakListOptions list;
    std::string database;            // file, or name in the data directory's Databases folder
    std::string dataDir;             // empty: the host's default
    bool listDatabases = false, listIons = false;
    Tolerance tolerance;             // default 5 ppm
    std::vector<Ion> ions;
    std::string ionsDescription;     // for the summary ("positive set", ...)
    std::string output;              // empty: standard output
    OutputFormat format = OutputFormat::Csv;
    bool formatSet = false;
    long top = 0;                    // 0: every hit
    bool noHits = false;
    bool isotopes = true;            // score isotope patterns
    double rtTolerance = 0.1;        // in the unit of the list's retention times
    bool quiet = false, timing = false;
    int progress = -1;               // 1 on, 0 off, -1 when standard error is a terminal
};

// Parses argv[1..]. Returns -1 to go on, or an exit status (0 after --help); messages and
// the help text go to the streams given.
int parseSearchArgs(const std::vector<std::string>& args, SearchOptions& o, std::string& out,
                    std::string& error);

std::string searchUsage();

} // namespace tvsearch
