// Output file with a temporary file renamed into place, and the signal handler that removes
// the temporary file when the run is interrupted.
#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
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

// The temporary file written by its descriptor, past the page cache while O_DIRECT holds:
// the writers fill one of two aligned blocks while a thread of its own writes the other (a
// direct write waits for the device; the thread sleeps in write(), the work stays on the
// caller's core). A block is written up to its last whole multiple of kAlign and the rest is
// carried to the next one, so that every direct write starts and ends aligned; the tail goes
// through the page cache at the end.
struct OutputFile::Direct {
    static constexpr size_t kAlign = 4096, kBlock = size_t(4) << 20;
    int fd = -1;
    bool bypass = false; // O_DIRECT is set on fd
    char* buf[2] = {nullptr, nullptr};
    size_t cap[2] = {0, 0};
    int cur = 0; // the block being filled

    // The writing thread and the bytes handed to it.
    std::thread worker;
    std::mutex m;
    std::condition_variable cv;
    const char* pending = nullptr;
    size_t pendingSize = 0;
    bool stop = false, failed = false;
    int error = 0;

    ~Direct() {
        join();
        std::free(buf[0]);
        std::free(buf[1]);
    }
    // Both blocks of kBlock bytes; false when there is no memory for them.
    bool allocate() {
        for (int i = 0; i < 2; ++i) {
            void* p = nullptr;
            if (::posix_memalign(&p, kAlign, kBlock) != 0) return false;
            buf[i] = static_cast<char*>(p);
            cap[i] = kBlock;
        }
        return true;
    }
    void setBypass(bool on) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && ::fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0)
            bypass = on;
        else if (!on)
            bypass = true; // cannot clear it: stays on (writes then fail and say why)
    }
    bool writeOut(const char* p, size_t n) {
        while (n > 0) {
            const ssize_t k = ::write(fd, p, n);
            if (k < 0) {
                if (errno == EINTR) continue;
                // The file system does not take direct writes (or not of this alignment).
                if (errno == EINVAL && bypass) {
                    setBypass(false);
                    if (!bypass) continue;
                }
                return false;
            }
            if (k == 0) {
                errno = EIO;
                return false;
            }
            p += k;
            n -= size_t(k);
            if (bypass && size_t(k) % kAlign != 0) setBypass(false); // no longer aligned
        }
        return true;
    }
    void run() {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            cv.wait(lock, [&] { return pending || stop; });
            if (!pending) return;
            const char* p = pending;
            const size_t n = pendingSize;
            lock.unlock();
            const bool ok = writeOut(p, n);
            const int e = errno;
            lock.lock();
            if (!ok && !failed) failed = true, error = e;
            pending = nullptr;
            cv.notify_all();
        }
    }
    void start() {
        try {
            worker = std::thread([this] { run(); });
        } catch (...) {
            // No thread: the blocks are written in turn.
        }
    }
    void join() {
        if (!worker.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(m);
            stop = true;
        }
        cv.notify_all();
        worker.join();
    }
    // Waits until the thread holds no block; false (errno set) when a write failed.
    bool idle() {
        if (!worker.joinable()) return !failed;
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return !pending; });
        if (failed) errno = error;
        return !failed;
    }
    // The current block is filled up to used and n more bytes are wanted: its whole
    // multiples of kAlign are handed on, the rest moves to the other block, which gets room
    // for the n bytes. Returns that block (and in rest the bytes carried), null on failure.
    char* next(size_t used, size_t n, size_t& rest, size_t& capacity) {
        const size_t whole = used / kAlign * kAlign;
        rest = used - whole;
        if (!idle()) return nullptr;
        const int other = cur ^ 1;
        if (cap[other] < rest + n) {
            const size_t c = (rest + n + kAlign - 1) / kAlign * kAlign;
            void* p = nullptr;
            if (::posix_memalign(&p, kAlign, c) != 0) {
                errno = ENOMEM;
                return nullptr;
            }
            std::free(buf[other]);
            buf[other] = static_cast<char*>(p);
            cap[other] = c;
        }
        std::memcpy(buf[other], buf[cur] + whole, rest);
        if (whole > 0) {
            if (worker.joinable()) {
                std::lock_guard<std::mutex> lock(m);
                pending = buf[cur];
                pendingSize = whole;
                cv.notify_all();
            } else if (!writeOut(buf[cur], whole)) {
                failed = true;
                error = errno;
                return nullptr;
            }
        }
        cur = other;
        capacity = cap[cur];
        return buf[cur];
    }
    // Writes what is left of the current block (used bytes) once the thread is done.
    bool finish(size_t used) {
        const bool written = idle();
        join();
        if (!written) return false;
        if (bypass) setBypass(false);
        return writeOut(buf[cur], used);
    }
};

namespace {
constexpr size_t kBufferBytes = size_t(2) << 20; // the writers' buffer before the stream
}

char* OutputFile::room(size_t n) {
    if (!at_ || used_ + n > capacity_) handOn(n);
    return at_ + used_;
}

void OutputFile::handOn(size_t n) {
    auto ownBuffer = [&] { // the writers' bytes go to buffer_, with room for n
        if (!buffer_ || capacity_ < n || at_ != buffer_.get()) {
            capacity_ = std::max(kBufferBytes, n);
            buffer_.reset(new char[capacity_]);
        }
        at_ = buffer_.get();
    };
    if (failed_ || !stream_) { // the bytes go nowhere
        if (!failed_) failed_ = EBADF;
        used_ = 0;
        ownBuffer();
        return;
    }
    if (rawOut_) {
        size_t rest = 0, cap = 0;
        char* b = rawOut_->next(used_, n, rest, cap);
        if (!b) {
            failed_ = errno ? errno : EIO;
            used_ = 0;
            ownBuffer();
            return;
        }
        at_ = b;
        capacity_ = cap;
        used_ = rest;
        return;
    }
    if (!rawTried_ && at_ && used_ >= kBufferBytes / 2 && stream_ != stdout && !direct_) {
        // A large result into the temporary file: from here on by the descriptor.
        rawTried_ = true;
        const int fd = ::fileno(stream_);
        const off_t pos = std::fflush(stream_) == 0 ? ::lseek(fd, 0, SEEK_CUR) : -1;
        auto d = std::make_unique<Direct>();
        d->fd = fd;
        if (pos >= 0 && pos % off_t(Direct::kAlign) == 0 && used_ <= Direct::kBlock &&
            d->allocate()) {
            std::memcpy(d->buf[0], at_, used_);
            d->setBypass(true);
            d->start();
            rawOut_ = std::move(d);
            at_ = rawOut_->buf[0];
            capacity_ = rawOut_->cap[0];
            if (used_ + n > capacity_) handOn(n);
            return;
        }
    }
    if (at_ && used_ > 0 && std::fwrite(at_, 1, used_, stream_) != used_)
        failed_ = errno ? errno : EIO;
    used_ = 0;
    ownBuffer();
}

bool OutputFile::write(const char* data, size_t size) {
    char* d = room(size);
    std::memcpy(d, data, size);
    advance(d + size);
    if (!ok()) errno = failed_;
    return ok();
}

bool OutputFile::flush() {
    if (!failed_ && rawOut_) {
        const bool done = rawOut_->finish(used_);
        const int e = errno;
        rawOut_.reset();
        at_ = nullptr;
        capacity_ = used_ = 0;
        if (!done) failed_ = e ? e : EIO;
    } else if (!failed_ && used_ > 0) {
        if (!stream_)
            failed_ = EBADF;
        else if (std::fwrite(at_, 1, used_, stream_) != used_)
            failed_ = errno ? errno : EIO;
    }
    used_ = 0;
    if (failed_) errno = failed_;
    return !failed_;
}

OutputFile::OutputFile() = default;

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
        const bool tail = flush();
        stream_ = nullptr;
        const bool flushed = tail && std::fflush(s) == 0 && !std::ferror(s);
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
    rawOut_.reset();
    if (stream_ && stream_ != stdout) std::fclose(stream_);
    stream_ = nullptr;
    if (!tempPath_.empty()) {
        unregisterTemp();
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

} // namespace tvsearch
