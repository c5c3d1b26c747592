// Output file with a temporary file renamed into place, and the signal handler that removes
// the temporary file when the run is interrupted.
#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tvsearch {
namespace {

char gTempPath[4096];
volatile sig_atomic_t gHaveTemp = 0;

void removeTempAndDie(int sig) {
    if (gHaveTemp) ::unlink(gTempPath);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void installHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        struct sigaction old;
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = removeTempAndDie;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

void registerTemp(const std::string& path) {
    if (path.size() >= sizeof gTempPath) return;
    gHaveTemp = 0;
    std::memcpy(gTempPath, path.c_str(), path.size() + 1);
    gHaveTemp = 1;
}

void unregisterTemp() {
    gHaveTemp = 0;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates a unique file from a template ending in XXXXXX; -1 on failure.
int makeTemp(std::string& path) {
    int fd = ::mkstemp(path.data());
    if (fd < 0) return -1;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return fd;
}

// Copies a whole file to an open stream.
bool copyTo(const std::string& from, FILE* to) {
    FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) return false;
    char buf[1 << 16];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0)
        ok = std::fwrite(buf, 1, n, to) == n;
    ok = ok && !std::ferror(in);
    std::fclose(in);
    return ok && std::fflush(to) == 0 && !std::ferror(to);
}

} // namespace

OutputFile::~OutputFile() {
    if (!committed_) abandon();
}

bool OutputFile::fail(std::string& error, const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
}

bool OutputFile::open(const std::string& path, bool needPath, std::string& error) {
    installHandlers();
    needPath_ = needPath;
    toStdout_ = path.empty() || path == "-";
    target_ = toStdout_ ? std::string() : path;
    display_ = toStdout_ ? "standard output" : path;
    struct stat st;
    const bool exists = !toStdout_ && ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        error = "cannot write " + path + ": it is a folder";
        return false;
    }
    direct_ = exists && !S_ISREG(st.st_mode);

    if (toStdout_ || direct_) {
        if (needPath) {
            const char* tmp = std::getenv("TMPDIR");
            tempPath_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvish-search-XXXXXX";
            int fd = makeTemp(tempPath_);
            if (fd < 0) return fail(error, "cannot create a temporary file in " + parentOf(tempPath_));
            ::close(fd);
            registerTemp(tempPath_);
            return true;
        }
        if (toStdout_) {
            stream_ = stdout;
        } else {
            stream_ = std::fopen(path.c_str(), "w");
            if (!stream_) return fail(error, "cannot write " + path);
        }
        return true;
    }

    const std::string dir = parentOf(path);
    tempPath_ = dir + "/." + baseOf(path) + ".tvs-XXXXXX";
    int fd = makeTemp(tempPath_);
    if (fd < 0) {
        const int e = errno;
        tempPath_.clear();
        errno = e;
        return fail(error, "cannot write in " + dir);
    }
    if (exists) ::fchmod(fd, st.st_mode & 07777);
    registerTemp(tempPath_);
    if (needPath) {
        ::close(fd);
        return true;
    }
    stream_ = ::fdopen(fd, "w");
    if (!stream_) {
        ::close(fd);
        return fail(error, "cannot write " + tempPath_);
    }
    static thread_local char buffer[1 << 20];
    std::setvbuf(stream_, buffer, _IOFBF, sizeof buffer);
    return true;
}

bool OutputFile::commit(std::string& error) {
    if (stream_) {
        FILE* s = stream_;
        stream_ = nullptr;
        const bool flushed = std::fflush(s) == 0 && !std::ferror(s);
        if (s == stdout) {
            if (!flushed) return fail(error, "cannot write " + display_);
        } else {
            int e = flushed ? 0 : errno;
            if (flushed && !direct_ && ::fsync(::fileno(s)) != 0) e = errno;
            if (std::fclose(s) != 0 && e == 0) e = errno;
            if (e != 0) {
                errno = e;
                abandon();
                return fail(error, "cannot write " + display_);
            }
        }
    } else if (needPath_ && (toStdout_ || direct_)) {
        FILE* to = toStdout_ ? stdout : std::fopen(target_.c_str(), "w");
        bool ok = to && copyTo(tempPath_, to);
        const int e = errno;
        if (to && to != stdout && std::fclose(to) != 0) ok = false;
        if (!ok) {
            errno = e;
            abandon();
            return fail(error, "cannot write " + display_);
        }
        abandon(); // the copy is made; the temporary file goes
        committed_ = true;
        return true;
    } else if (needPath_) {
        // The writer closed its file: sync it before it takes the target's name.
        int fd = ::open(tempPath_.c_str(), O_RDONLY);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    if (!toStdout_ && !direct_) {
        if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
            const int e = errno;
            abandon();
            errno = e;
            return fail(error, "cannot move the results into " + target_);
        }
        unregisterTemp();
        tempPath_.clear();
        int dfd = ::open(parentOf(target_).c_str(), O_RDONLY | O_DIRECTORY);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
    }
    committed_ = true;
    return true;
}

void OutputFile::abandon() {
    if (stream_ && stream_ != stdout) std::fclose(stream_);
    stream_ = nullptr;
    if (!tempPath_.empty()) {
        unregisterTemp();
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

} // namespace tvsearch
