#include "row_sorter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <queue>

namespace mkdb {
namespace {

// Memory a row takes: the object and the texts that do not fit into it.
size_t footprint(const Row& r) {
    size_t n = sizeof(Row) + 16;
    for (const std::string* s : {&r.formula, &r.name, &r.smiles})
        if (s->capacity() > 15) n += s->capacity() + 1;
    return n;
}

bool writeAll(FILE* f, const void* p, size_t n) {
    return std::fwrite(p, 1, n, f) == n;
}

// A run record: mass, the three lengths, the three texts.
bool writeRow(FILE* f, const Row& r) {
    const uint32_t len[3] = {uint32_t(r.formula.size()), uint32_t(r.name.size()),
                             uint32_t(r.smiles.size())};
    return writeAll(f, &r.mass, sizeof r.mass) && writeAll(f, len, sizeof len) &&
           writeAll(f, r.formula.data(), len[0]) && writeAll(f, r.name.data(), len[1]) &&
           writeAll(f, r.smiles.data(), len[2]);
}

// Reads the next record of a run; false at its end (error set when the file is damaged).
bool readRow(FILE* f, Row& r, std::string& error) {
    uint32_t len[3];
    if (std::fread(&r.mass, sizeof r.mass, 1, f) != 1) {
        if (std::ferror(f)) error = "cannot read a temporary sort file: " + std::string(std::strerror(errno));
        return false;
    }
    if (std::fread(len, sizeof len, 1, f) != 1) {
        error = "a temporary sort file is cut short";
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        std::string& s = i == 0 ? r.formula : i == 1 ? r.name : r.smiles;
        s.resize(len[i]);
        if (len[i] && std::fread(&s[0], 1, len[i], f) != len[i]) {
            error = "a temporary sort file is cut short";
            return false;
        }
    }
    return true;
}

bool byMass(const Row& a, const Row& b) {
    return a.mass < b.mass;
}

} // namespace

RowSorter::RowSorter(size_t memoryBudget, std::string tempDir)
    : budget_(std::max<size_t>(memoryBudget, 1 << 16)), tempDir_(std::move(tempDir)) {}

RowSorter::~RowSorter() {
    for (FILE* f : runs_)
        std::fclose(f);
}

bool RowSorter::add(Row&& row, std::string& error) {
    held_ += footprint(row);
    rows_.push_back(std::move(row));
    ++count_;
    return held_ < budget_ || spill(error);
}

bool RowSorter::spill(std::string& error) {
    std::string path = tempDir_ + "/tarvish-mkdb-run-XXXXXX";
    const int fd = ::mkstemp(&path[0]);
    if (fd < 0) {
        error = "cannot make a temporary sort file in " + tempDir_ + ": " + std::strerror(errno);
        return false;
    }
    ::unlink(path.c_str()); // gone from the folder at once; the descriptor keeps it
    FILE* f = ::fdopen(fd, "w+b");
    if (!f) {
        ::close(fd);
        error = "cannot use a temporary sort file: " + std::string(std::strerror(errno));
        return false;
    }
    runs_.push_back(f);
    std::setvbuf(f, nullptr, _IOFBF, 1 << 18);
    std::stable_sort(rows_.begin(), rows_.end(), byMass);
    for (const Row& r : rows_)
        if (!writeRow(f, r)) {
            error = "cannot write a temporary sort file in " + tempDir_ + ": " + std::strerror(errno);
            return false;
        }
    if (std::fflush(f) != 0) {
        error = "cannot write a temporary sort file in " + tempDir_ + ": " + std::strerror(errno);
        return false;
    }
    rows_.clear();
    rows_.shrink_to_fit();
    held_ = 0;
    return true;
}

bool RowSorter::drain(const std::function<bool(const Row&, std::string&)>& sink,
                      std::string& error) {
    if (runs_.empty()) {
        std::stable_sort(rows_.begin(), rows_.end(), byMass);
        for (const Row& r : rows_)
            if (!sink(r, error)) return false;
        return true;
    }
    if (!rows_.empty() && !spill(error)) return false;

    // Merge: the head row of every run; equal masses come from the earlier run first, and a
    // run is in input order, so the merge is as stable as one sort.
    struct Head {
        Row row;
        size_t run;
    };
    std::vector<Head> heads(runs_.size());
    auto later = [&](size_t a, size_t b) {
        const Head& x = heads[a];
        const Head& y = heads[b];
        if (x.row.mass != y.row.mass) return x.row.mass > y.row.mass;
        return x.run > y.run;
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(later)> queue(later);
    for (size_t i = 0; i < runs_.size(); ++i) {
        std::rewind(runs_[i]);
        heads[i].run = i;
        if (readRow(runs_[i], heads[i].row, error))
            queue.push(i);
        else if (!error.empty())
            return false;
    }
    while (!queue.empty()) {
        const size_t i = queue.top();
        queue.pop();
        if (!sink(heads[i].row, error)) return false;
        if (readRow(runs_[i], heads[i].row, error))
            queue.push(i);
        else if (!error.empty())
            return false;
    }
    return true;
}

} // namespace mkdb
