// The spreadsheet driver's temporary folders: which process made each one,
// and the removal of those whose process has ended.
#include "excel8driver.h"
#include "excel8folders.h"

#include <QFile>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// "quorvel-" and the six letters or digits the folder was made with.
bool IsFolderName(const std::string& name) {
    static const std::string prefix = "quorvel-";
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
    return std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

// A spreadsheet program's mark that it has the workbook open.
bool IsLockFile(const std::string& name) {
    return name.rfind(".~lock.", 0) == 0 || name.rfind("~$", 0) == 0;
}

// When the process started, in clock ticks after boot (field 22 of its
// stat); empty when it is not known.
std::string StartOf(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return {};
    // The command name, in parentheses, may hold blanks: count from after it.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        if (!(fields >> field)) return {};
    return field;
}

// True only when the note surely names a process that no longer runs: its
// id is gone, or it is taken by a process that started at another time.
bool OwnerEnded(const std::string& note) {
    std::istringstream in(note);
    long pid = 0;
    std::string start;
    if (!(in >> pid >> start) || pid <= 0) return false; // not our note: left alone
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
    const std::string now = StartOf(pid);
    return start != "0" && !now.empty() && now != start;
}

// Workbooks written or saved this recently may still be in use.
constexpr auto MinimumAge = std::chrono::hours(1);

// Removes one folder when it is safe to: see RemoveOldFolders.
bool RemoveIfEnded(const fs::path& dir) {
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    std::error_code ec;
    std::vector<fs::path> files;
    bool noted = false;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->symlink_status(ec).type() != fs::file_type::regular || IsLockFile(name)) return false;
        if (fs::file_time_type::clock::now() - it->last_write_time(ec) < MinimumAge || ec) return false;
        if (name == Excel8OwnerNote) {
            std::ifstream in(it->path());
            std::string note;
            std::getline(in, note);
            if (!OwnerEnded(note)) return false;
            noted = true;
        }
        files.push_back(it->path());
    }
    if (ec || !noted) return false;
    for (const fs::path& f : files)
        fs::remove(f, ec);
    return fs::remove(dir, ec);
}

} // namespace

std::string TExcel8Driver::ProcessNote() {
    const long pid = static_cast<long>(getpid());
    const std::string start = StartOf(pid);
    return std::to_string(pid) + " " + (start.empty() ? "0" : start) + "\n";
}

int TExcel8Driver::RemoveOldFolders(const QString& base) {
    int removed = 0;
    std::error_code ec;
    const fs::path dir(QFile::encodeName(base).toStdString());
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!IsFolderName(it->path().filename().string())) continue;
        if (RemoveIfEnded(it->path())) ++removed;
    }
    return removed;
}
