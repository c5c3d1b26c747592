#pragma once
// Sorts the rows by mass in bounded memory: rows gather in memory up to a budget; a full
// batch is sorted and written to a temporary run file; at the end the runs are merged. The
// order is stable: rows of equal mass stay in the order they were added, exactly as one
// stable sort of all rows would give.
//
// Run files are unlinked as soon as they are made, so nothing is left behind even when the
// process is killed.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "molecule.h"

namespace mkdb {

class RowSorter {
  public:
    // memoryBudget: bytes of rows held in memory; tempDir: where run files go.
    RowSorter(size_t memoryBudget, std::string tempDir);
    ~RowSorter();
    RowSorter(const RowSorter&) = delete;
    RowSorter& operator=(const RowSorter&) = delete;

    bool add(Row&& row, std::string& error);
    long long size() const { return count_; }
    int runs() const { return int(runs_.size()); }

    // Hands every row to sink in ascending mass; stops at the first false (error set).
    bool drain(const std::function<bool(const Row&, std::string&)>& sink, std::string& error);

  private:
    bool spill(std::string& error);

    size_t budget_, held_ = 0;
    std::string tempDir_;
    std::vector<Row> rows_;
    std::vector<FILE*> runs_;
    long long count_ = 0;
};

} // namespace mkdb
