#include "pipeline.h"

#include <indigo.h>
#include <sched.h>

namespace mkdb {
namespace {

constexpr size_t kBatchRecords = 64;

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
    for (int i = 0; i < workers; ++i)
        threads_.emplace_back([this] { work(); });
}

ConvertPipeline::~ConvertPipeline() {
    {
        std::lock_guard<std::mutex> lock(m_);
        stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

void ConvertPipeline::work() {
    // An Indigo session of this thread's own, with the options the builder relies on.
    const qword session = indigoAllocSessionId();
    indigoSetSessionId(session);
    initIndigo();
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
            b->outcomes.reserve(b->records.size());
            for (const Record& r : b->records)
                b->outcomes.push_back(convert(r));
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
    indigoReleaseSessionId(session);
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
