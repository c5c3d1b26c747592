// CSV and DIF files: their bytes, the format chosen by the filter, and
// files that cannot be created or fill up midway.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "export_results.h"
#include "export_test_util.h"

namespace {

const char* const GlucoseDif =
    "TABLE\r\n0,1\r\n\"POCKETS\"\r\n"
    "VECTORS\r\n0,3\r\n\"\"\r\n"
    "TUPLES\r\n0,2\r\n\"\"\r\n"
    "DATA\r\n0,0\r\n\"\"\r\n"
    "-1,0\r\nBOT\r\n1,0\r\n\"Mass\"\r\n1,0\r\n\"Formula\"\r\n1,0\r\n\"Name\"\r\n"
    "-1,0\r\nBOT\r\n0,180.063388\r\nV\r\n1,0\r\n\"C6H12O6\"\r\n"
    "1,0\r\n\"Glucose\"\r\n"
    "-1,0\r\nEOD\r\n";

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

// Many rows, non-ASCII names among them, to fill more than one buffer.
TResultsTable BigTable(int rows) {
    TResultsTable t{{"Mass", "Formula", "Name"}, {}};
    for (int i = 0; i < rows; ++i)
        t.Rows.push_back({std::to_string(100 + i) + ".5", "C" + std::to_string(i) + "H12O6",
                          i % 2 ? "\xCE\xB2-D-Glucose " + std::to_string(i)
                                : "\xC3\x84pfels\xC3\xA4ure " + std::to_string(i)});
    return t;
}

struct ExportFile : ::testing::Test {
    QTemporaryDir dir;
    std::string path(const char* name) const {
        return dir.filePath(QString::fromUtf8(name)).toStdString();
    }
};

} // namespace

TEST_F(ExportFile, CsvAndDifOfTheWorkedExample) {
    ASSERT_TRUE(dir.isValid());
    const TResultsTable t = GlucoseTable();
    ASSERT_EQ(TResSave::Written, SaveResultsFile(path("r.csv"), ResFilterCsv, t, '.'));
    EXPECT_EQ("Mass; Formula; Name\r\n180.063388; C6H12O6; Glucose\r\n", FileBytes(path("r.csv")));
    ASSERT_EQ(TResSave::Written, SaveResultsFile(path("r.dif"), ResFilterDif, t, '.'));
    EXPECT_EQ(GlucoseDif, FileBytes(path("r.dif")));
}

TEST_F(ExportFile, FilterDecidesTheFormatWhateverTheName) {
    ASSERT_TRUE(dir.isValid());
    const TResultsTable t = GlucoseTable();
    ASSERT_EQ(TResSave::Written, SaveResultsFile(path("named.csv"), ResFilterDif, t, '.'));
    EXPECT_EQ(GlucoseDif, FileBytes(path("named.csv")));
    // Any other filter: an empty file, replacing what was there.
    for (int index : {0, 3, -1}) {
        ASSERT_EQ(TResSave::Written, SaveResultsFile(path("named.csv"), index, t, '.'));
        EXPECT_TRUE(QFile::exists(QString::fromStdString(path("named.csv"))));
        EXPECT_EQ("", FileBytes(path("named.csv"))) << index;
    }
}

TEST_F(ExportFile, CommaSeparatorShownInCsvButPointInDifNumber) {
    ASSERT_TRUE(dir.isValid());
    const TResultsTable t = GlucoseTable("180,063388");
    ASSERT_EQ(TResSave::Written, SaveResultsFile(path("c.csv"), ResFilterCsv, t, ','));
    EXPECT_EQ("Mass; Formula; Name\r\n180,063388; C6H12O6; Glucose\r\n", FileBytes(path("c.csv")));
    ASSERT_EQ(TResSave::Written, SaveResultsFile(path("c.dif"), ResFilterDif, t, ','));
    EXPECT_EQ(GlucoseDif, FileBytes(path("c.dif")));
}

TEST_F(ExportFile, DifReadsBackCellForCell) {
    ASSERT_TRUE(dir.isValid());
    TResultsTable t = BigTable(50);
    t.Rows.push_back({"n/a", "X", "say \"hi\""}); // a Mass that is no number stays a string
    ASSERT_EQ(TResSave::Written, SaveResultsFile(path("big.dif"), ResFilterDif, t, '.'));
    std::string header;
    const auto tuples = ReadDif(FileBytes(path("big.dif")), &header);
    EXPECT_EQ("TABLE|0,1|\"POCKETS\"|VECTORS|0,3|\"\"|TUPLES|0,52|\"\"|", header);
    ASSERT_EQ(t.Rows.size() + 1, tuples.size());
    for (size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(1, tuples[0][c].type);
        EXPECT_EQ(t.Captions[c], tuples[0][c].value);
    }
    for (size_t r = 0; r < t.Rows.size(); ++r) {
        ASSERT_EQ(3u, tuples[r + 1].size()) << r;
        const bool numeric = r + 1 < t.Rows.size();
        EXPECT_EQ(numeric ? 0 : 1, tuples[r + 1][0].type) << r;
        for (size_t c = 0; c < 3; ++c)
            EXPECT_EQ(t.Rows[r][c], tuples[r + 1][c].value) << r << "," << c;
    }
    // The quote went out unescaped.
    EXPECT_NE(std::string::npos, FileBytes(path("big.dif")).find("\"say \"hi\"\"\r\n"));
}

TEST_F(ExportFile, FolderThatCannotBeWrittenLeavesNoFileAndNoHandle) {
    ASSERT_TRUE(dir.isValid());
    const TResultsTable t = GlucoseTable();
    // (Tests may run as root, for whom permissions do not stop a write.)
    const std::string missing = path("no such folder/r.csv");
    ASSERT_EQ(TResSave::Written, SaveResultsFile(path("plain"), ResFilterCsv, t, '.'));
    const std::string underFile = path("plain/r.csv");
    const int before = OpenDescriptors();
    for (const std::string& p : {missing, underFile, dir.path().toStdString()})
        for (int index : {ResFilterCsv, ResFilterDif})
            EXPECT_EQ(TResSave::CannotCreate, SaveResultsFile(p, index, t, '.')) << p;
    EXPECT_EQ(before, OpenDescriptors());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(missing)));
}

TEST_F(ExportFile, FullDeviceFailsTheWrite) {
    const int before = OpenDescriptors();
    // Small output fails when the buffer is flushed at the close, large output
    // on a write.
    for (int rows : {1, 5000}) {
        EXPECT_EQ(TResSave::WriteFailed,
                  SaveResultsFile("/dev/full", ResFilterCsv, BigTable(rows), '.'));
        EXPECT_EQ(TResSave::WriteFailed,
                  SaveResultsFile("/dev/full", ResFilterDif, BigTable(rows), '.'));
    }
    EXPECT_EQ(before, OpenDescriptors());
}

TEST_F(ExportFile, DiskFullMidwayKeepsWhatWasWritten) {
    ASSERT_TRUE(dir.isValid());
    const TResultsTable t = BigTable(3000);
    for (int index : {ResFilterCsv, ResFilterDif}) {
        const std::string full = path("full.out"), part = path("part.out");
        ASSERT_EQ(TResSave::Written, SaveResultsFile(full, index, t, '.'));
        const std::string expected = FileBytes(full);
        const rlim_t limit = 10000;
        ASSERT_GT(expected.size(), 4 * limit);
        // The file-size limit is set in a child, which reports the result in
        // its exit code.
        const pid_t pid = fork();
        ASSERT_NE(-1, pid);
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit lim{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(10);
            _exit(static_cast<int>(SaveResultsFile(part, index, t, '.')));
        }
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(static_cast<int>(TResSave::WriteFailed), WEXITSTATUS(status)) << index;
        const std::string got = FileBytes(part);
        EXPECT_EQ(limit, got.size()) << index;
        EXPECT_EQ(expected.substr(0, got.size()), got) << index;
    }
}
