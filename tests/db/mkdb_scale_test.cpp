// tarvish-mkdb on many records: parsed on several threads and sorted through temporary
// files, it writes exactly the database and the rejects list one thread and one sort give.
#include <QProcess>
#include <QStringList>

#include <fstream>
#include <sstream>

#include "db_test_util.h"

using namespace dbtest;

namespace {

const char* const kMetabolites = "/usr/share/openms/CHEMISTRY/HMDB2StructMapping.tsv";

struct ToolResult {
    int exitCode = -1;
    std::string err;
};

ToolResult mkdb(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(TW_MKDB_PATH), args);
    ToolResult r;
    if (!p.waitForFinished(300000)) {
        ADD_FAILURE() << "tarvish-mkdb did not finish";
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.err = p.readAllStandardError().toStdString();
    return r;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Every row of a database as text, in ID order.
std::string dump(const std::string& db) {
    std::string out;
    for (const auto& row : query(db, "SELECT ID, quote(MassMI), Formula, quote(Name), Smiles FROM "
                                     "Molecules ORDER BY ID"))
        out += row[0] + "|" + row[1] + "|" + row[2] + "|" + row[3] + "|" + row[4] + "\n";
    return out;
}

TEST(MkdbScale, ThreadsAndASortThroughFilesWriteTheSameDatabaseAsOneThread) {
    // 6,000 real records, each of the first 500 twice more under another name (equal masses,
    // whose order must be kept), and records that cannot be read spread among them.
    std::ifstream in(kMetabolites);
    ASSERT_TRUE(in.good()) << kMetabolites << " missing (package openms-common)";
    TempDir dir;
    std::vector<std::string> lines;
    for (std::string l; lines.size() < 6000 && std::getline(in, l);)
        lines.push_back(l);
    ASSERT_EQ(6000u, lines.size());
    {
        std::ofstream out(dir.file("in.tsv"));
        for (size_t i = 0; i < lines.size(); ++i) {
            out << lines[i] << "\n";
            if (i % 997 == 0) out << "X:" << i << "\tbroken\tC1CC(\n";
            if (i < 500) {
                const size_t tab = lines[i].find('\t', lines[i].find('\t') + 1);
                out << "COPY:" << i << "\tcopy " << i << lines[i].substr(tab) << "\n";
            }
        }
    }
    const QStringList common = {"-q", "--format", "tsv", "--no-header", "--name-col", "2",
                                "--smiles-col", "3"};
    const ToolResult one = mkdb(common + QStringList{"-j", "1", "--rejects", q(dir.file("one.txt")), "-o",
                                              q(dir.file("one.db")), q(dir.file("in.tsv"))});
    ASSERT_EQ(0, one.exitCode) << one.err;
    fs::create_directory(dir.file("tmp"));
    // One megabyte of rows in memory: the 7,000 rows go through several sorted runs.
    const ToolResult two = mkdb(common + QStringList{"-v", "-j", "2", "--sort-memory", "1", "--temp-dir",
                                              q(dir.file("tmp")), "--rejects", q(dir.file("two.txt")),
                                              "-o", q(dir.file("two.db")), q(dir.file("in.tsv"))});
    ASSERT_EQ(0, two.exitCode) << two.err;
    EXPECT_NE(std::string::npos, one.err.find("6507 records read")) << one.err;
    EXPECT_NE(std::string::npos, two.err.find("temporary runs")) << two.err;

    const std::string a = dump(dir.file("one.db")), b = dump(dir.file("two.db"));
    EXPECT_GT(std::count(a.begin(), a.end(), '\n'), 6400);
    EXPECT_TRUE(a == b) << "the databases differ";
    EXPECT_EQ(readFile(dir.file("one.txt")), readFile(dir.file("two.txt")));
    // Every rejected record, with its line number, in input order.
    std::istringstream rejects(readFile(dir.file("two.txt")));
    long previous = 0, count = 0;
    for (std::string l; std::getline(rejects, l); ++count) {
        const size_t colon = l.find(".tsv:") + 5;
        const long line = std::atol(l.c_str() + colon);
        EXPECT_GT(line, previous) << l;
        previous = line;
    }
    EXPECT_GE(count, 7);
    EXPECT_TRUE(fs::is_empty(dir.file("tmp"))) << "temporary sort files left behind";
    // Equal masses keep the input's order: the original before its copy.
    const auto pairs = query(dir.file("two.db"), "SELECT ID, Name FROM Molecules WHERE Name IN "
                                                 "('1-Methylhistidine', 'copy 0') ORDER BY ID");
    ASSERT_EQ(2u, pairs.size());
    EXPECT_EQ("1-Methylhistidine", pairs[0][1]);
}

} // namespace
