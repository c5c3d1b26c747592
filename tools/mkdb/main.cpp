// tarvish-mkdb: builds a molecule database (SQLite or Access, or a PostgreSQL table; table
// Molecules) from SMILES, CSV/TSV, SDF and CML files: structures are parsed on every core,
// rows sorted by mass in bounded memory.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "db_writer.h"
#include "molecule.h"
#include "pg_writer.h"
#include "pipeline.h"
#include "readers.h"
#include "row_sorter.h"

namespace {

const char* const kUsage = R"(Usage: tarvish-mkdb [options] -o OUTPUT.db INPUT...
       tarvish-mkdb [options] --postgres CONNINFO [--table NAME] INPUT...

Builds a molecule database for the tarvish host: one row per structure with its
monoisotopic mass (rounded to 6 decimals, 1 µDa), molecular formula (Hill
notation), name and SMILES, sorted by mass, with an index on the mass.

Outputs (kind taken from the extension):
  .db                 SQLite database
  .mdb                Access (Jet 4) database; names are cut at 255 characters,
                      and no index is stored (the host indexes its own copy)

Inputs (kind taken from the extension unless --format is given):
  .smi .smiles .txt   one "SMILES name" per line
  .csv                comma-separated, quoted fields allowed
  .tsv .tab           tab-separated, no quoting
  .sdf .sd .mol       molfile blocks separated by "$$$$"
  .cml .xml           Chemical Markup Language, every <molecule> element

Options:
  -o, --output FILE      the database to write (replaced only when complete)
  -f, --format KIND      smi, csv, tsv, sdf or cml for every input
      --smiles-col COL   CSV/TSV column of the SMILES: header name or 1-based
                         number (default: the column headed "smiles")
      --name-col COL     CSV/TSV column of the name (default: the column headed
                         "name", if any)
      --header           the first CSV/TSV line names the columns
      --no-header        the first CSV/TSV line is data (columns by number)
      --delimiter C      CSV field separator (default ","; "tab" for a tab)
      --name-field F     SDF data field holding the name (default: title line)
      --rejects FILE     write every rejected record and its reason to FILE
  -j, --jobs N           parse in N worker processes (default: every core)
      --sort-memory MB   rows held in memory while sorting (default 256);
                         beyond that they are sorted through temporary files
      --temp-dir DIR     where those files go (default: $TMPDIR or /tmp)
  -v, --verbose          list every rejected record on standard error
  -q, --quiet            no progress line
      --progress         the progress line even when standard error is not a
                         terminal (for a program showing it)
  -h, --help             this text

PostgreSQL (instead of -o):
      --postgres CONNINFO   libpq connection ("host=db.lab dbname=lab user=admin")
      --table NAME          the table to replace (default molecules; the plug-in
                            reads molecules)
      --readonly-role ROLE  let ROLE read the table and nothing else (made when
                            missing, with every transaction read-only)
      --dsn FILE            write a matching ODBC data source (.dsn) for the
                            Databases folder, logging in as ROLE
The table is loaded in one transaction and replaces the old one only when
complete.

Exit status: 0 database written; 1 bad usage; 2 an input could not be read;
3 no record could be stored; 4 the database could not be written.
)";

enum class Kind { Auto, Smiles, Csv, Tsv, Sdf, Cml };

bool kindFromName(const std::string& s, Kind& k) {
    if (s == "smi" || s == "smiles" || s == "txt")
        k = Kind::Smiles;
    else if (s == "csv")
        k = Kind::Csv;
    else if (s == "tsv" || s == "tab")
        k = Kind::Tsv;
    else if (s == "sdf" || s == "sd" || s == "mol")
        k = Kind::Sdf;
    else if (s == "cml" || s == "xml")
        k = Kind::Cml;
    else
        return false;
    return true;
}

Kind kindOf(const std::string& path) {
    size_t dot = path.rfind('.'), slash = path.rfind('/');
    Kind k = Kind::Auto;
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return k;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    kindFromName(ext, k);
    return k;
}

struct Options {
    std::string output, rejectsFile, nameField, tempDir;
    mkdb::PgOptions pg;
    bool postgres = false;
    int jobs = 0;
    size_t sortMemory = size_t(256) << 20;
    std::vector<std::string> inputs;
    Kind kind = Kind::Auto;
    mkdb::DelimitedOptions delimited;
    bool delimiterSet = false;
    bool verbose = false, quiet = false, progress = false;
};

int usageError(const std::string& msg) {
    std::fprintf(stderr, "tarvish-mkdb: %s\nTry 'tarvish-mkdb --help'.\n", msg.c_str());
    return 1;
}

// Parses the command line; returns -1 to go on, else an exit status.
int parseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string value;
        auto takeValue = [&](const char* opt) {
            size_t n = std::strlen(opt);
            if (a.compare(0, n, opt) == 0 && a.size() > n && a[n] == '=') {
                value = a.substr(n + 1);
                return true;
            }
            if (a == opt) {
                if (i + 1 >= argc) throw std::invalid_argument(std::string(opt) + " needs a value");
                value = argv[++i];
                return true;
            }
            return false;
        };
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (a == "--progress") {
            o.progress = true;
        } else if (a == "--header") {
            o.delimited.header = 1;
        } else if (a == "--no-header") {
            o.delimited.header = 0;
        } else if (takeValue("-o") || takeValue("--output")) {
            o.output = value;
        } else if (takeValue("-f") || takeValue("--format")) {
            if (!kindFromName(value, o.kind)) return usageError("unknown format " + value);
        } else if (takeValue("--smiles-col")) {
            o.delimited.smiles = mkdb::ColumnRef::parse(value);
        } else if (takeValue("--name-col")) {
            o.delimited.name = mkdb::ColumnRef::parse(value);
        } else if (takeValue("--delimiter")) {
            if (value == "tab" || value == "\\t") value = "\t";
            if (value.size() != 1 || value == "\"")
                return usageError("the delimiter must be one character");
            o.delimited.delimiter = value[0];
            o.delimiterSet = true;
        } else if (takeValue("--name-field")) {
            o.nameField = value;
        } else if (takeValue("--rejects")) {
            o.rejectsFile = value;
        } else if (takeValue("-j") || takeValue("--jobs")) {
            o.jobs = std::atoi(value.c_str());
            if (o.jobs < 1 || o.jobs > 256) return usageError("--jobs needs a number from 1 to 256");
        } else if (takeValue("--sort-memory")) {
            const long mb = std::atol(value.c_str());
            if (mb < 1) return usageError("--sort-memory needs a number of megabytes");
            o.sortMemory = size_t(mb) << 20;
        } else if (takeValue("--temp-dir")) {
            o.tempDir = value;
        } else if (takeValue("--postgres")) {
            o.postgres = true;
            o.pg.conninfo = value;
        } else if (takeValue("--table")) {
            o.pg.table = value;
        } else if (takeValue("--readonly-role")) {
            o.pg.readonlyRole = value;
        } else if (takeValue("--dsn")) {
            o.pg.dsnFile = value;
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option " + a);
        } else {
            o.inputs.push_back(a);
        }
    }
    if (o.postgres && !o.output.empty()) return usageError("give either -o or --postgres");
    if (!o.postgres && (!o.pg.readonlyRole.empty() || !o.pg.dsnFile.empty()))
        return usageError("--readonly-role and --dsn go with --postgres");
    if (o.postgres && !mkdb::isPlainName(o.pg.table))
        return usageError("the table name must be letters, digits and _");
    if (!o.postgres && o.output.empty()) return usageError("no output file (-o)");
    if (!o.postgres && !mkdb::isKnownOutput(o.output))
        return usageError("unknown kind of output " + o.output + " (known: .db, .mdb)");
    if (o.inputs.empty()) return usageError("no input file");
    if (o.delimited.header == 0 &&
        (!o.delimited.smiles.name.empty() || !o.delimited.name.name.empty()))
        return usageError("--no-header needs columns given by number");
    if (o.delimited.header == 0 && o.delimited.smiles.empty())
        return usageError("--no-header needs --smiles-col NUMBER");
    return -1;
}

class Progress {
  public:
    explicit Progress(bool enabled) : enabled_(enabled) {}
    void update(long read, long stored, bool force = false) {
        if (!enabled_) return;
        auto now = std::chrono::steady_clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        std::fprintf(stderr, "\r%ld read, %ld stored", read, stored);
        std::fflush(stderr);
        shown_ = true;
    }
    void finish() {
        if (shown_) std::fputc('\n', stderr);
        shown_ = false;
    }

  private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// Reads every input, handing each record to sink; returns -1, or an exit status.
int readInputs(const Options& o, const mkdb::RecordSink& sink, Progress& progress) {
    for (const std::string& input : o.inputs) {
        Kind k = o.kind == Kind::Auto ? kindOf(input) : o.kind;
        try {
            switch (k) {
            case Kind::Smiles:
                mkdb::readSmilesFile(input, sink);
                break;
            case Kind::Csv:
            case Kind::Tsv: {
                mkdb::DelimitedOptions d = o.delimited;
                if (k == Kind::Tsv) {
                    if (!o.delimiterSet) d.delimiter = '\t';
                    d.quoted = false;
                }
                mkdb::readDelimitedFile(input, d, sink);
                break;
            }
            case Kind::Sdf:
                mkdb::readSdfFile(input, o.nameField, sink);
                break;
            case Kind::Cml:
                mkdb::readCmlFile(input, sink);
                break;
            case Kind::Auto:
                progress.finish();
                std::fprintf(stderr, "tarvish-mkdb: %s: unknown kind of file; use --format\n",
                             input.c_str());
                return 1;
            }
        } catch (const mkdb::InputError& e) {
            progress.finish();
            std::fprintf(stderr, "tarvish-mkdb: %s\n", e.what());
            return 2;
        }
    }
    return -1;
}

int run(int argc, char** argv) {
    Options o;
    int status;
    try {
        status = parseArgs(argc, argv, o);
    } catch (const std::invalid_argument& e) {
        return usageError(e.what());
    }
    if (status >= 0) return status;

    std::ofstream rejects;
    if (!o.rejectsFile.empty()) {
        rejects.open(o.rejectsFile);
        if (!rejects) {
            std::fprintf(stderr, "tarvish-mkdb: cannot write %s\n", o.rejectsFile.c_str());
            return 1;
        }
    }

    const auto t0 = std::chrono::steady_clock::now();
    // The output is started first, so that a server that cannot be reached or a folder that
    // cannot be written is known before the inputs are parsed.
    std::string error;
    std::unique_ptr<mkdb::RowWriter> writer =
        o.postgres ? mkdb::openPgWriter(o.pg, error) : mkdb::openRowWriter(o.output, error);
    if (!writer) {
        std::fprintf(stderr, "tarvish-mkdb: %s\n", error.c_str());
        return 4;
    }

    mkdb::initIndigo();
    std::error_code ec;
    const std::string tempDir =
        o.tempDir.empty() ? std::filesystem::temp_directory_path(ec).string() : o.tempDir;
    mkdb::RowSorter sorter(o.sortMemory, tempDir.empty() ? "/tmp" : tempDir);
    long read = 0, rejected = 0;
    bool sortFailed = false;
    Progress progress(!o.quiet && (o.progress || ::isatty(STDERR_FILENO)));

    mkdb::ConvertPipeline pipeline(
        o.jobs > 0 ? o.jobs : mkdb::ConvertPipeline::availableCores(),
        [&](mkdb::Record&& r, mkdb::Outcome&& out) {
            if (out.ok) {
                if (!sortFailed && !sorter.add(std::move(out.row), error)) sortFailed = true;
            } else {
                ++rejected;
                std::string line = r.source + ":" + std::to_string(r.line) + ": " + out.reason;
                if (!r.name.empty()) line += " [" + r.name + "]";
                if (rejects) rejects << line << '\n';
                if (o.verbose) {
                    progress.finish();
                    std::fprintf(stderr, "rejected: %s\n", line.c_str());
                }
            }
            progress.update(read, long(sorter.size()));
        });
    status = readInputs(o, [&](mkdb::Record&& r) {
        ++read;
        pipeline.push(std::move(r));
    }, progress);
    if (status >= 0) return status;
    pipeline.finish();
    progress.update(read, long(sorter.size()), true);
    progress.finish();
    if (rejects) rejects.flush();
    if (sortFailed) {
        std::fprintf(stderr, "tarvish-mkdb: %s\n", error.c_str());
        return 4;
    }

    const long stored = long(sorter.size());
    if (stored == 0) {
        std::fprintf(stderr, "tarvish-mkdb: %ld records read, none could be stored\n", read);
        return 3;
    }
    // IDs 1..n in ascending mass.
    const auto w0 = std::chrono::steady_clock::now();
    long long id = 0;
    if (!sorter.drain([&](const mkdb::Row& row, std::string& e) { return writer->add(++id, row, e); },
                      error) ||
        !writer->finish(error)) {
        std::fprintf(stderr, "tarvish-mkdb: %s\n", error.c_str());
        return 4;
    }
    const auto t1 = std::chrono::steady_clock::now();
    const double secs = std::chrono::duration<double>(t1 - t0).count();
    const double writing = std::chrono::duration<double>(t1 - w0).count();
    std::fprintf(stderr,
                 "%s: %ld records read, %ld stored, %ld rejected (%.1f s; writing %.1f s, %.0f "
                 "rows/s)\n",
                 o.postgres ? ("table " + o.pg.table).c_str() : o.output.c_str(), read, stored,
                 rejected, secs, writing, writing > 0 ? double(stored) / writing : 0.0);
    if (o.verbose && sorter.runs() > 0)
        std::fprintf(stderr, "sorted through %d temporary runs\n", sorter.runs());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvish-mkdb: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tarvish-mkdb: unexpected failure\n");
    }
    return 4;
}
