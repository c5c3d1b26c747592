#pragma once
// Helpers of the Access tests: mdbtools' programs run as processes (the independent reading of
// a file), their CSV cut into fields, the real files of the shared test data, molecule .mdb
// files written with tarvish-mkdb's writer, and a cache folder of each test's own.
#include <QProcess>
#include <QStringList>

#include <cstdlib>
#include <string>
#include <vector>

#include "db_test_util.h"
#include "db_writer.h"

namespace dbtest {

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};

inline ProgramRun runProgram(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    ProgramRun r;
    if (!p.waitForFinished(120000)) {
        ADD_FAILURE() << program.toStdString() << " did not finish: " << p.errorString().toStdString();
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

// mdb-export of a table: the rows (without the header) as fields, dates as ISO text, binary
// values left out (or, with bin "raw", as they are).
inline std::vector<std::vector<std::string>> mdbExport(const std::string& file,
                                                       const std::string& table,
                                                       const char* bin = "strip") {
    const ProgramRun r = runProgram("mdb-export", {"-D", "%Y-%m-%d %H:%M:%S", "-T",
                                                   "%Y-%m-%d %H:%M:%S", "-b", bin,
                                                   QString::fromStdString(file),
                                                   QString::fromStdString(table)});
    EXPECT_EQ(r.exitCode, 0) << "mdb-export (package mdbtools) failed: " << r.err;
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false, any = false;
    for (size_t i = 0; i < r.out.size(); ++i) {
        const char c = r.out[i];
        if (quoted) {
            if (c == '"' && i + 1 < r.out.size() && r.out[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = any = true;
        } else if (c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
        } else {
            field += c;
        }
    }
    if (!field.empty() || !rows.back().empty()) rows.back().push_back(field);
    if (rows.back().empty()) rows.pop_back();
    if (!rows.empty()) rows.erase(rows.begin()); // the header
    (void)any;
    return rows;
}

// The shared real Access files nobody here wrote: $TW_ACCESS_TESTDATA, else the folder the
// build was configured with.
inline std::string testData(const std::string& name) {
    const char* env = std::getenv("TW_ACCESS_TESTDATA");
    const std::string path = std::string(env && *env ? env : TW_ACCESS_TESTDATA) + "/" + name;
    EXPECT_TRUE(fs::exists(path)) << "missing test data " << path
                                  << " (set TW_ACCESS_TESTDATA to the folder of nwind.mdb)";
    return path;
}

// Writes molecule rows (IDs 1..n in the order given) with tarvish-mkdb's writer of the
// file's kind.
inline void writeMolecules(const std::string& path, const std::vector<mkdb::Row>& rows) {
    std::string error;
    std::unique_ptr<mkdb::RowWriter> w = mkdb::openRowWriter(path, error);
    ASSERT_TRUE(w) << error;
    long long id = 0;
    for (const mkdb::Row& r : rows)
        ASSERT_TRUE(w->add(++id, r, error)) << error;
    ASSERT_TRUE(w->finish(error)) << error;
}

// Points the Access engine's cache at a folder of the test's own for its lifetime.
class CacheFolder {
  public:
    CacheFolder() : saved_(std::getenv("XDG_CACHE_HOME") ? std::getenv("XDG_CACHE_HOME") : "") {
        had_ = std::getenv("XDG_CACHE_HOME") != nullptr;
        ::setenv("XDG_CACHE_HOME", dir_.path().c_str(), 1);
    }
    ~CacheFolder() {
        if (had_)
            ::setenv("XDG_CACHE_HOME", saved_.c_str(), 1);
        else
            ::unsetenv("XDG_CACHE_HOME");
    }
    fs::path folder() const { return dir_.path() / "tarvish"; }
    std::vector<fs::path> caches() const {
        std::vector<fs::path> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder(), ec))
            if (e.path().extension() == ".sqlite") out.push_back(e.path());
        return out;
    }

  private:
    TempDir dir_;
    std::string saved_;
    bool had_ = false;
};

} // namespace dbtest
