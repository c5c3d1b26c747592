// tarvish-mkdb run as a process on N real SMILES records: the demo metabolites input
// (openms-common) repeated with varied IDs and names until N records.
//   bench_mkdb [--records=N] [--input-dir=DIR] [benchmark options]
// Jobs/1 parses on one thread, Jobs/2 on two; each run reports its records/s (wall time),
// its CPU time (user + sys) and its peak resident memory; the speed-up of Jobs/2 over Jobs/1
// is printed at the end. Postgres/2 loads the same records into a private PostgreSQL cluster
// (scripts/pg-test-cluster.sh) and reports the load step's rows/s.
// The input is made once (DIR/tvmkdb-bench-N.tsv, default DIR /tmp) and reused.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kSource = "/usr/share/openms/CHEMISTRY/HMDB2StructMapping.tsv";
long gRecords = 1000000;
std::string gDir = "/tmp", gInput;
std::map<int, double> gRate; // records/s by jobs

// The input: the source's lines again and again, each copy with its own ID and name.
std::string makeInput() {
    const std::string path = gDir + "/tvmkdb-bench-" + std::to_string(gRecords) + ".tsv";
    if (fs::exists(path)) return path;
    std::ifstream in(kSource);
    if (!in) throw std::runtime_error(std::string(kSource) + " missing (package openms-common)");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) lines.push_back(l);
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp);
        for (long i = 0; i < gRecords; ++i) {
            const std::string& l = lines[size_t(i) % lines.size()];
            const long copy = i / long(lines.size());
            const size_t t1 = l.find('\t'), t2 = l.find('\t', t1 + 1);
            out << l.substr(0, t1) << "-" << copy << '\t' << l.substr(t1 + 1, t2 - t1 - 1);
            if (copy) out << " (copy " << copy << ")";
            out << l.substr(t2) << '\n';
        }
    }
    fs::rename(tmp, path);
    return path;
}

struct RunResult {
    double wall = 0, cpu = 0, rssMb = 0;
    int status = -1;
    std::string err;
};

// Runs the tool with args, its standard error into a file; rusage of the child.
RunResult runTool(std::vector<std::string> args) {
    const std::string errFile = gDir + "/tvmkdb-bench.err";
    args.insert(args.begin(), TW_MKDB_PATH);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(errFile.c_str(), "w", stderr)) _exit(127);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    RunResult r;
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
    r.rssMb = double(ru.ru_maxrss) / 1024.0;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

const std::vector<std::string> kFormat = {"-q", "--format", "tsv", "--no-header", "--name-col",
                                          "2", "--smiles-col", "3"};

void build(benchmark::State& state, int jobs) {
    RunResult r;
    const std::string out = gDir + "/tvmkdb-bench-out.db";
    for (auto _ : state) {
        std::vector<std::string> args = kFormat;
        args.insert(args.end(), {"-j", std::to_string(jobs), "-o", out, gInput});
        r = runTool(args);
        if (r.status != 0) {
            state.SkipWithError(r.err.c_str());
            return;
        }
        state.SetIterationTime(r.wall);
    }
    fs::remove(out);
    gRate[jobs] = double(gRecords) / r.wall;
    state.counters["records_per_s"] = double(gRecords) / r.wall;
    state.counters["cpu_s"] = r.cpu;
    state.counters["cpu_per_wall"] = r.cpu / r.wall;
    state.counters["peak_rss_mb"] = r.rssMb;
    std::fprintf(stderr, "jobs %d: %s", jobs, r.err.c_str());
}

void loadPostgres(benchmark::State& state) {
    std::string tmpl = gDir + "/tvpg-mkdb-XXXXXX";
    if (!mkdtemp(&tmpl[0])) {
        state.SkipWithError("cannot make a folder for the server");
        return;
    }
    const std::string script = std::string(TW_SOURCE_DIR) + "/scripts/pg-test-cluster.sh";
    if (std::system(("'" + script + "' start '" + tmpl + "' " + std::to_string(getpid())).c_str()) != 0) {
        state.SkipWithError("cannot start PostgreSQL");
        return;
    }
    RunResult r;
    for (auto _ : state) {
        std::vector<std::string> args = kFormat;
        args.insert(args.end(), {"-j", "2", "--postgres", "host=" + tmpl + " dbname=tvtest user=tvadmin",
                                 "--readonly-role", "tvreader", gInput});
        r = runTool(args);
        if (r.status != 0) {
            state.SkipWithError(r.err.c_str());
            break;
        }
        state.SetIterationTime(r.wall);
    }
    std::system(("'" + script + "' stop '" + tmpl + "'").c_str());
    // "... (T s; writing W s, R rows/s)": the load step, sorted rows to committed table.
    const size_t at = r.err.find("writing ");
    if (at != std::string::npos) {
        state.counters["load_s"] = std::atof(r.err.c_str() + at + 8);
        const size_t comma = r.err.find(", ", at);
        state.counters["load_rows_per_s"] = std::atof(r.err.c_str() + comma + 2);
    }
    state.counters["peak_rss_mb"] = r.rssMb;
    std::fprintf(stderr, "postgres: %s", r.err.c_str());
}

} // namespace

int main(int argc, char** argv) {
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--records=", 10) == 0)
            gRecords = std::atol(argv[i] + 10);
        else if (std::strncmp(argv[i], "--input-dir=", 12) == 0)
            gDir = argv[i] + 12;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    try {
        gInput = makeInput();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_mkdb: %s\n", e.what());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    for (int jobs : {1, 2})
        benchmark::RegisterBenchmark(("Jobs/" + std::to_string(jobs)).c_str(),
                                     [jobs](benchmark::State& s) { build(s, jobs); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("Postgres/2", loadPostgres)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gRate.count(1) && gRate.count(2))
        std::printf("speed-up of 2 jobs over 1: %.2fx (%.0f vs %.0f records/s)\n",
                    gRate[2] / gRate[1], gRate[2], gRate[1]);
    return 0;
}
