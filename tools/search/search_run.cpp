// The run: peaks in, database opened through the host's engines, hits ranked and written.
#include "search_run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <filesystem>
#include <map>
#include <optional>

#include "db_engines.h"
#include "host_settings.h"
#include "isotope_score.h"
#include "mass_search.h"
#include "output_file.h"
#include "ranking.h"
#include "result_writer.h"

namespace tvsearch {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The bulk of the last run in a process that ends after it: reachable from here, so a leak
// checker does not count it.
const void* volatile gLeftAtExit = nullptr; // volatile: the store must stay

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void say(FILE* err, const char* fmt, ...) {
    std::fputs("tarvish-search: ", err);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(err, fmt, ap);
    va_end(ap);
    std::fputc('\n', err);
}

// A one-line bar on standard error, redrawn at most ten times a second.
class Progress {
  public:
    Progress(FILE* err, bool on) : err_(err), on_(on) {}
    ~Progress() { clear(); }
    void show(const char* phase, double fraction) {
        if (!on_) return;
        const auto now = Clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(100) && fraction < 1.0) return;
        last_ = now;
        const int width = 30, done = int(std::clamp(fraction, 0.0, 1.0) * width);
        std::string bar(size_t(done), '#');
        bar.resize(size_t(width), '.');
        std::fprintf(err_, "\r[%s] %3d%% %-24s", bar.c_str(), int(fraction * 100 + 0.5), phase);
        std::fflush(err_);
        shown_ = true;
    }
    void clear() {
        if (!shown_) return;
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        shown_ = false;
    }

  private:
    FILE* err_;
    bool on_, shown_ = false;
    Clock::time_point last_{};
};

// Reads the -m values as a peak list of their own.
bool massesAsPeaks(const std::vector<std::string>& masses, PeakList& list, std::string& error) {
    long n = 0;
    for (const std::string& t : masses) {
        PeakRecord p;
        if (!readNumber(t, p.mz) || !(p.mz > 0) || p.mz > kMaxMz) {
            error = "-m: \"" + t + "\" is not an m/z (a positive number up to " +
                    std::to_string(int(kMaxMz)) + ")";
            return false;
        }
        p.id = std::to_string(++n);
        p.mzText = t;
        p.line = n;
        list.peaks.push_back(std::move(p));
    }
    return true;
}

} // namespace

std::string resolveDataDir(const std::string& dataDir) {
    std::string d = dataDir.empty() ? defaultDataDir() : dataDir;
    if (!d.empty() && d.back() != '/') d += '/';
    return d;
}

std::vector<std::string> listDatabases(const std::string& dataDir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(resolveDataDir(dataDir) + "Databases", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_directory(ec)) continue;
        const std::string name = it->path().filename().string();
        const std::string ext = lower(it->path().extension().string());
        if (ext == ".db" || ext == ".mdb" || ext == ".dsn") names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
    return names;
}

bool resolveDatabase(const std::string& nameOrPath, const std::string& dataDir, std::string& path,
                     std::string& error) {
    std::error_code ec;
    if (nameOrPath.find('/') != std::string::npos || fs::is_regular_file(nameOrPath, ec)) {
        path = nameOrPath;
        return true;
    }
    const std::string folder = resolveDataDir(dataDir) + "Databases";
    const std::vector<std::string> all = listDatabases(dataDir);
    const std::string want = lower(nameOrPath);
    std::vector<std::string> exact, byStem;
    for (const std::string& n : all) {
        if (lower(n) == want) exact.push_back(n);
        if (lower(fs::path(n).stem().string()) == want) byStem.push_back(n);
    }
    const std::vector<std::string>& found = !exact.empty() ? exact : byStem;
    if (found.size() == 1) {
        path = folder + "/" + found.front();
        return true;
    }
    std::string list;
    for (const std::string& n : (found.empty() ? all : found))
        list += (list.empty() ? "" : ", ") + n;
    if (found.empty())
        error = "no database \"" + nameOrPath + "\" in " + folder +
                (all.empty() ? " (the folder holds no database)" : " (there are: " + list + ")");
    else
        error = "\"" + nameOrPath + "\" names several databases in " + folder + ": " + list +
                "; give the file name";
    return false;
}

int runSearch(const SearchOptions& o, FILE* err, RunTimes* times) {
    const auto t0 = Clock::now();
    RunTimes rt;
    const bool talk = !o.quiet;

    if (o.listIons) {
        std::printf("%-16s %4s %3s %16s  %s\n", "ion", "n", "z", "parts (u)", "m/z for M = 100");
        for (const Ion& i : o.ions) {
            std::printf("%-16s %4d %3d %16.9f  %.6f\n", i.text.c_str(), i.multimer, i.charge,
                        i.partsMass, i.mz(100.0));
        }
        return kExitOk;
    }
    if (o.listDatabases) {
        for (const std::string& n : listDatabases(o.dataDir))
            std::printf("%s\n", n.c_str());
        return kExitOk;
    }

    // Peaks.
    PeakList list;
    const std::string source = o.masses.empty() ? (o.input == "-" ? "standard input" : o.input)
                                                : "-m";
    if (!o.masses.empty()) {
        std::string e;
        if (!massesAsPeaks(o.masses, list, e)) {
            say(err, "%s", e.c_str());
            return kExitUsage;
        }
    } else {
        list = readPeakList(o.input, o.list);
        if (list.status != PeakList::Ok) {
            say(err, "%s: %s", source.c_str(), list.error.c_str());
            return kExitInput;
        }
        const size_t shown = std::min<size_t>(list.skipped.size(), 20);
        for (size_t k = 0; k < shown; ++k)
            say(err, "%s:%ld: %s (line skipped)", source.c_str(), list.skipped[k].line,
                list.skipped[k].reason.c_str());
        if (list.skipped.size() > shown)
            say(err, "%s: %zu more lines skipped", source.c_str(), list.skipped.size() - shown);
    }
    rt.read = since(t0);

    // Database.
    std::string dbPath, error;
    if (!resolveDatabase(o.database, o.dataDir, dbPath, error)) {
        say(err, "%s", error.c_str());
        return kExitDatabase;
    }
    CommandResult openError;
    std::unique_ptr<DbEngine> db = DbEngines::openFile(dbPath, openError);
    if (!db) {
        say(err, "%s", openError.text.c_str());
        return kExitDatabase;
    }

    // Output, opened first so that an unwritable place fails before the work.
    const bool toStdout = o.output.empty() || o.output == "-";
    if (o.format == OutputFormat::Xlsx && toStdout && ::isatty(STDOUT_FILENO)) {
        say(err, "a workbook is not written to a terminal; give -o FILE.xlsx");
        return kExitUsage;
    }
    OutputFile out;
    if (!out.open(o.output, o.format == OutputFormat::Xlsx, error)) {
        say(err, "%s", error.c_str());
        return kExitOutput;
    }
    std::unique_ptr<ResultWriter> writer = makeResultWriter(o.format, out, error);
    if (!writer) {
        say(err, "%s", error.c_str());
        return kExitOutput;
    }

    Progress progress(err, o.progress == 1 || (o.progress == -1 && talk && ::isatty(fileno(err))));

    // Search. The hits, the rows and the ranker's caches are the run's bulk of memory.
    struct Bulk {
        HitList hits;
        HitStore store;
        std::unique_ptr<HitRanker> ranker;
    };
    auto bulk = std::make_unique<Bulk>();
    // Left to the ending process: the memory goes back with it, without walking the blocks.
    struct LeaveAtExit {
        std::unique_ptr<Bulk>& bulk;
        bool leave;
        ~LeaveAtExit() {
            if (leave) gLeftAtExit = bulk.release();
        }
    } leaveAtExit{bulk, o.endsProcess};
    HitList& hits = bulk->hits;
    HitStore& store = bulk->store;
    QueryStats qs;
    const auto tSearch = Clock::now();
    if (!searchDatabase(*db, list.peaks, o.ions, o.tolerance, hits, store, qs, error,
                        [&](double f) { progress.show("searching", f); })) {
        progress.clear();
        say(err, "%s: %s", dbPath.c_str(), error.c_str());
        return kExitDatabase;
    }
    rt.queries = qs.seconds;
    double matching = since(tSearch) - qs.seconds;

    // Hits grouped by peak (counting sort).
    std::vector<uint32_t> start(list.peaks.size() + 1, 0), order(hits.size());
    for (size_t k = 0; k < hits.size(); ++k)
        ++start[hits[k].peak + 1];
    for (size_t p = 0; p < list.peaks.size(); ++p)
        start[p + 1] += start[p];
    {
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (uint32_t k = 0; k < hits.size(); ++k)
            order[fill[hits[k].peak]++] = k;
    }

    // Score and write, peak by peak in the order of the list.
    bulk->ranker = std::make_unique<HitRanker>(list, o.ions, store, o.tolerance, o.rtTolerance,
                                               o.isotopes);
    HitRanker& ranker = *bulk->ranker;
    std::vector<RankedHit> cands;
    std::vector<char> ionHasHit(o.ions.size());
    std::vector<double> neutral(o.ions.size()); // of the current peak, by ion
    long rowsWritten = 0, hitRows = 0, peaksWithHits = 0;
    bool writeFailed = false;

    for (uint32_t p = 0; p < list.peaks.size() && !writeFailed; ++p) {
        const auto tScore = Clock::now();
        const PeakRecord& peak = list.peaks[p];
        std::fill(ionHasHit.begin(), ionHasHit.end(), 0);
        ranker.rank(p, hits, order.data() + start[p], order.data() + start[p + 1], size_t(o.top),
                    cands, ionHasHit);
        const auto tWrite = Clock::now();
        rt.scoring += std::chrono::duration<double>(tWrite - tScore).count();

        OutputRow r;
        r.peak = &peak;
        for (size_t i = 0; i < o.ions.size(); ++i)
            neutral[i] = o.ions[i].neutral(peak.mz);
        for (const RankedHit& c : cands) {
            const Hit& h = hits[c.hit];
            const HitStore::Row& row = store.row(h.row);
            r.ion = &o.ions[h.ion];
            r.neutralMass = neutral[h.ion];
            r.hit = true;
            r.hitId = store.id(row);
            r.hitMass = row.mass;
            r.theoreticalMz = r.ion->mz(row.mass);
            r.deltaPpm = c.dppm;
            r.rms = c.rms;
            r.cosine = c.cosine;
            r.formula = store.formula(row);
            r.name = store.name(row);
            r.smiles = store.smiles(row);
            if (!writer->row(r)) writeFailed = true;
            ++rowsWritten;
            ++hitRows;
        }
        if (!cands.empty()) ++peaksWithHits;
        if (o.noHits) {
            r = OutputRow();
            r.peak = &peak;
            for (uint32_t i = 0; i < o.ions.size(); ++i) {
                if (ionHasHit[i] || !ionFitsPeak(o.ions[i], peak)) continue;
                r.ion = &o.ions[i];
                r.neutralMass = neutral[i];
                if (!writer->row(r)) writeFailed = true;
                ++rowsWritten;
            }
        }
        rt.output += since(tWrite);
        progress.show("scoring and writing", double(p + 1) / double(list.peaks.size()));
    }
    progress.clear();

    const auto tFinish = Clock::now();
    const bool finished = writer->finish(error);
    if (writeFailed || !finished) {
        if (error.empty()) error = "cannot write " + out.displayName();
        out.abandon();
        say(err, "%s", error.c_str());
        return kExitOutput;
    }
    if (!out.commit(error)) {
        say(err, "%s", error.c_str());
        return kExitOutput;
    }
    rt.output += since(tFinish);
    rt.total = since(t0);
    rt.scoring += matching; // matching rows to windows belongs to neither the queries nor output

    if (talk) {
        if (ranker.impossible)
            say(err, "%ld hit(s) left out: the ion cannot form from the formula (an atom count "
                     "would go below zero)", ranker.impossible);
        if (ranker.unreadable)
            say(err, "%ld hit(s) with a formula that does not parse: written without isotope "
                     "scores", ranker.unreadable);
        if (ranker.noDistribution)
            say(err, "%ld hit(s) without an isotopic distribution: written without isotope scores",
                ranker.noDistribution);
        if (writer->truncated())
            say(err, "%ld value(s) cut to the 32767 characters a workbook cell holds",
                writer->truncated());
        auto count = [](long n, const char* what) {
            return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
        };
        std::string ions = count(long(o.ions.size()), "ion");
        if (!o.ionsDescription.empty()) ions += " (" + o.ionsDescription + ")";
        say(err, "%s, %s, %s on %s, %s to %s, %s, %.2f s",
            count(long(list.peaks.size()), "peak").c_str(), ions.c_str(),
            count(hitRows, "hit").c_str(), count(peaksWithHits, "peak").c_str(),
            count(rowsWritten, "row").c_str(), out.displayName().c_str(),
            fs::path(dbPath).filename().string().c_str(), rt.total);
        if (!list.skipped.empty())
            say(err, "%zu line(s) of %s skipped", list.skipped.size(), source.c_str());
    }
    if (o.timing)
        say(err, "time: reading %.3f s, queries %.3f s, matching and isotope scores %.3f s, "
                 "output %.3f s, total %.3f s (%ld queries for %ld windows, %ld rows fetched; "
                 "%ld hits scored, %zu distributions)",
            rt.read, rt.queries, rt.scoring, rt.output, rt.total, qs.queries, qs.windows,
            qs.rowsFetched, ranker.scored, ranker.distributions());
    if (times) *times = rt;
    return list.skipped.empty() ? kExitOk : kExitSkipped;
}

} // namespace tvsearch
