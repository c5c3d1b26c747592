#include "pipeline.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace mkdb {
namespace {

constexpr size_t kBatchRecords = 64;

// Messages through the pipes: numbers in the machine's own byte order (both ends are the same
// program), texts as a 32-bit length and the bytes.
class Writer {
  public:
    void u32(uint32_t v) { raw(&v, sizeof v); }
    void f64(double v) { raw(&v, sizeof v); }
    void str(const std::string& s) {
        u32(uint32_t(s.size()));
        raw(s.data(), s.size());
    }
    const std::string& bytes() const { return buf_; }

  private:
    void raw(const void* p, size_t n) { buf_.append(static_cast<const char*>(p), n); }
    std::string buf_;
};

class Reader {
  public:
    explicit Reader(const std::string& b) : b_(b) {}
    uint32_t u32() {
        uint32_t v;
        raw(&v, sizeof v);
        return v;
    }
    double f64() {
        double v;
        raw(&v, sizeof v);
        return v;
    }
    std::string str() {
        const uint32_t n = u32();
        if (n > b_.size() - at_) throw std::runtime_error("a damaged message from a worker");
        std::string s = b_.substr(at_, n);
        at_ += n;
        return s;
    }

  private:
    void raw(void* p, size_t n) {
        if (n > b_.size() - at_) throw std::runtime_error("a damaged message from a worker");
        std::memcpy(p, b_.data() + at_, n);
        at_ += n;
    }
    const std::string& b_;
    size_t at_ = 0;
};

bool writeAll(int fd, const std::string& data) {
    uint64_t n = data.size();
    std::string framed(reinterpret_cast<const char*>(&n), sizeof n);
    framed += data;
    size_t done = 0;
    while (done < framed.size()) {
        const ssize_t w = ::write(fd, framed.data() + done, framed.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += size_t(w);
    }
    return true;
}

bool readExactly(int fd, char* p, size_t n) {
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

// One framed message; false at the end of the pipe.
bool readMessage(int fd, std::string& out) {
    uint64_t n = 0;
    if (!readExactly(fd, reinterpret_cast<char*>(&n), sizeof n)) return false;
    out.resize(n);
    return readExactly(fd, &out[0], n);
}

std::string encodeRecords(const std::vector<Record>& records) {
    Writer w;
    w.u32(uint32_t(records.size()));
    for (const Record& r : records) {
        w.u32(uint32_t(r.kind));
        w.str(r.structure);
        w.str(r.name);
        w.str(r.problem);
    }
    return w.bytes();
}

// The worker process: records in, outcomes out, until the pipe closes.
[[noreturn]] void serve(int in, int out) {
    initIndigo();
    std::string msg;
    while (readMessage(in, msg)) {
        Reader r(msg);
        const uint32_t n = r.u32();
        Writer w;
        w.u32(n);
        for (uint32_t i = 0; i < n; ++i) {
            Record rec;
            rec.kind = StructureKind(r.u32());
            rec.structure = r.str();
            rec.name = r.str();
            rec.problem = r.str();
            const Outcome o = convert(rec);
            w.u32(o.ok ? 1 : 0);
            w.f64(o.row.mass);
            w.str(o.row.formula);
            w.str(o.row.name);
            w.str(o.row.smiles);
            w.str(o.reason);
        }
        if (!writeAll(out, w.bytes())) break;
    }
    // No destructor, no exit handler: nothing of the parent's (its database connection, its
    // files) may be touched from here.
    _exit(0);
}

std::vector<Outcome> decodeOutcomes(const std::string& msg, size_t expected) {
    Reader r(msg);
    const uint32_t n = r.u32();
    if (n != expected) throw std::runtime_error("a worker answered for the wrong records");
    std::vector<Outcome> out(n);
    for (Outcome& o : out) {
        o.ok = r.u32() != 0;
        o.row.mass = r.f64();
        o.row.formula = r.str();
        o.row.name = r.str();
        o.row.smiles = r.str();
        o.reason = r.str();
    }
    return out;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

int ConvertPipeline::availableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

ConvertPipeline::ConvertPipeline(int workers, Done done) : done_(std::move(done)) {
    if (workers < 2) return;
    maxInFlight_ = size_t(workers) * 4;
    // A worker that dies must fail its batch, not end this process through a write to its pipe.
    ::signal(SIGPIPE, SIG_IGN);
    for (int i = 0; i < workers; ++i) {
        int down[2], up[2];
        if (::pipe2(down, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
        if (::pipe2(up, O_CLOEXEC) != 0) {
            ::close(down[0]), ::close(down[1]);
            throw std::runtime_error("cannot make a pipe");
        }
        const pid_t pid = ::fork();
        if (pid < 0) throw std::runtime_error(std::string("cannot start a worker: ") + std::strerror(errno));
        if (pid == 0) {
            // Only the two ends of this worker stay open.
            const int in = down[0], out = up[1];
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != in && fd != out) ::close(fd);
            serve(in, out);
        }
        ::close(down[0]);
        ::close(up[1]);
        workers_.push_back(Worker{pid, down[1], up[0]});
    }
    for (Worker& w : workers_)
        threads_.emplace_back([this, &w] { work(w); });
}

ConvertPipeline::~ConvertPipeline() {
    {
        std::lock_guard<std::mutex> lock(m_);
        stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_)
        t.join();
    for (Worker& w : workers_) {
        closeFd(w.toChild); // the worker sees the end of its input and leaves
        closeFd(w.fromChild);
        int status = 0;
        while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

void ConvertPipeline::work(Worker& w) {
    std::string answer;
    for (;;) {
        std::unique_ptr<Batch> b;
        {
            std::unique_lock<std::mutex> lock(m_);
            work_.wait(lock, [&] { return stop_ || !todo_.empty(); });
            if (todo_.empty()) break;
            b = std::move(todo_.front());
            todo_.pop_front();
        }
        try {
            if (!writeAll(w.toChild, encodeRecords(b->records)) || !readMessage(w.fromChild, answer)) {
                int status = 0;
                std::string why = "a worker process stopped";
                if (::waitpid(w.pid, &status, WNOHANG) == w.pid && WIFSIGNALED(status))
                    why += " (signal " + std::to_string(WTERMSIG(status)) + ") on one of the records "
                           "from line " + std::to_string(b->records.front().line) + " of " +
                           b->records.front().source;
                throw std::runtime_error(why);
            }
            b->outcomes = decodeOutcomes(answer, b->records.size());
        } catch (...) {
            b->failure = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(m_);
            const uint64_t seq = b->seq;
            ready_[seq] = std::move(b);
        }
        finished_.notify_all();
    }
}

void ConvertPipeline::push(Record&& record) {
    if (threads_.empty()) {
        Outcome o = convert(record);
        done_(std::move(record), std::move(o));
        return;
    }
    if (!filling_) {
        filling_ = std::make_unique<Batch>();
        filling_->records.reserve(kBatchRecords);
    }
    filling_->records.push_back(std::move(record));
    if (filling_->records.size() >= kBatchRecords) submit();
}

void ConvertPipeline::submit() {
    std::unique_lock<std::mutex> lock(m_);
    filling_->seq = nextSeq_++;
    todo_.push_back(std::move(filling_));
    ++inFlight_;
    work_.notify_one();
    deliver(lock);
    while (inFlight_ >= maxInFlight_) {
        finished_.wait(lock, [&] { return ready_.count(nextToDeliver_) > 0; });
        deliver(lock);
    }
}

void ConvertPipeline::deliver(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        auto it = ready_.find(nextToDeliver_);
        if (it == ready_.end()) return;
        std::unique_ptr<Batch> b = std::move(it->second);
        ready_.erase(it);
        ++nextToDeliver_;
        --inFlight_;
        lock.unlock();
        if (b->failure) {
            lock.lock();
            std::rethrow_exception(b->failure);
        }
        for (size_t i = 0; i < b->records.size(); ++i)
            done_(std::move(b->records[i]), std::move(b->outcomes[i]));
        lock.lock();
    }
}

void ConvertPipeline::finish() {
    if (threads_.empty()) return;
    if (filling_ && !filling_->records.empty()) submit();
    std::unique_lock<std::mutex> lock(m_);
    while (inFlight_ > 0) {
        finished_.wait(lock, [&] { return ready_.count(nextToDeliver_) > 0; });
        deliver(lock);
    }
}

} // namespace mkdb
