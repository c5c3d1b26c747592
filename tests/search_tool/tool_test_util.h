#pragma once
// Running tarvish-search as a process, reading its CSV back, and the demo data.
#include <QProcess>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db_test_util.h"

namespace tooltest {

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs the tool; stdoutFile redirects its standard output to a file.
inline ToolRun runSearch(const std::vector<std::string>& args, const std::string& stdoutFile = {},
                     const std::string& stdinText = {}) {
    QStringList a;
    for (const std::string& s : args)
        a << QString::fromStdString(s);
    QProcess p;
    if (!stdoutFile.empty()) p.setStandardOutputFile(QString::fromStdString(stdoutFile));
    p.start(QStringLiteral(TW_SEARCH_PATH), a);
    ToolRun r;
    if (!p.waitForStarted(30000)) {
        ADD_FAILURE() << "tarvish-search did not start";
        return r;
    }
    if (!stdinText.empty()) p.write(stdinText.data(), qint64(stdinText.size()));
    p.closeWriteChannel();
    if (!p.waitForFinished(300000)) {
        ADD_FAILURE() << "tarvish-search did not finish";
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

// RFC 4180 records; the first is the header.
inline std::vector<std::vector<std::string>> readCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string f;
    bool q = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (q) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                f += '"';
                ++i;
            } else if (c == '"') {
                q = false;
            } else {
                f += c;
            }
            continue;
        }
        if (c == '"') {
            q = true;
            any = true;
        } else if (c == ',') {
            row.push_back(f);
            f.clear();
            any = true;
        } else if (c == '\r') {
        } else if (c == '\n') {
            row.push_back(f);
            rows.push_back(row);
            row.clear();
            f.clear();
            any = false;
        } else {
            f += c;
            any = true;
        }
    }
    if (any) {
        row.push_back(f);
        rows.push_back(row);
    }
    return rows;
}

// The rows of a CSV answer as maps from the header's names.
struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    size_t col(const std::string& name) const {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return i;
        ADD_FAILURE() << "no column " << name;
        return 0;
    }
    const std::string& at(size_t row, const std::string& name) const { return rows[row][col(name)]; }
};

inline Table table(const std::string& csv) {
    Table t;
    auto all = readCsv(csv);
    if (all.empty()) return t;
    t.header = all.front();
    t.rows.assign(all.begin() + 1, all.end());
    for (const auto& r : t.rows)
        EXPECT_EQ(t.header.size(), r.size()) << "a row with another number of fields";
    return t;
}

inline double num(const std::string& t) {
    double v = NAN;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

inline std::string demoDataDir() {
    if (const char* d = std::getenv("TW_DEMO_DATA_DIR")) return std::string(d) + "/";
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = xdg && *xdg ? xdg : std::string(home ? home : "") + "/.local/share";
    return base + "/tarvish/";
}

// Fails the test when the demo database is missing.
inline std::string metabolitesDb() {
    const std::string db = demoDataDir() + "Databases/Metabolites.db";
    EXPECT_TRUE(std::ifstream(db).good())
        << db << " is missing: build it with scripts/build-demo-dbs.sh (or set TW_DEMO_DATA_DIR)";
    return db;
}

} // namespace tooltest
