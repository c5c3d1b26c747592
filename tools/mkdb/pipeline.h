#pragma once
// Converts records on worker processes and hands every outcome back on the calling thread in
// input order, so rejects are reported and rows numbered exactly as by one thread.
//
// Workers are processes, not threads: Indigo (1.2) keeps its sessions and its pools of
// temporaries behind one process-wide lock that every call takes, so two threads parsing at
// once ran hardly faster than one (1.13x on 2 cores, with 50% more CPU time) while two
// processes run twice as fast. Each worker process is fed by a thread of this process that
// sends it a batch of records through a pipe and reads the outcomes back. Records travel in
// batches; at most a few batches per worker are in flight, so memory stays bounded however
// long the input is.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "molecule.h"
#include "readers.h"

namespace mkdb {

class ConvertPipeline {
  public:
    using Done = std::function<void(Record&& record, Outcome&& outcome)>;

    // workers < 2: every record is converted at once on the calling thread. Otherwise the
    // worker processes are forked here, so it must be made while this process has one thread.
    ConvertPipeline(int workers, Done done);
    ~ConvertPipeline();
    ConvertPipeline(const ConvertPipeline&) = delete;
    ConvertPipeline& operator=(const ConvertPipeline&) = delete;

    // Queues a record; may hand finished outcomes to done first. Rethrows what a worker met.
    void push(Record&& record);
    // Converts what is queued and hands over every outcome left.
    void finish();

    // The cores this process may run on.
    static int availableCores();

  private:
    struct Batch {
        uint64_t seq = 0;
        std::vector<Record> records;
        std::vector<Outcome> outcomes;
        std::exception_ptr failure;
    };

    struct Worker {
        int pid = -1;
        int toChild = -1;   // the records go here
        int fromChild = -1; // the outcomes come from here
    };

    void work(Worker& w);
    void submit();
    // Hands over finished batches in order; called with the lock held (released meanwhile).
    void deliver(std::unique_lock<std::mutex>& lock);

    Done done_;
    std::vector<Worker> workers_;
    std::vector<std::thread> threads_;
    std::unique_ptr<Batch> filling_;
    std::mutex m_;
    std::condition_variable work_, finished_;
    std::deque<std::unique_ptr<Batch>> todo_;
    std::map<uint64_t, std::unique_ptr<Batch>> ready_;
    uint64_t nextSeq_ = 0, nextToDeliver_ = 0;
    size_t inFlight_ = 0, maxInFlight_ = 0;
    bool stop_ = false, delivering_ = false;
};

} // namespace mkdb
