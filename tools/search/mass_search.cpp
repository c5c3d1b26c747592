// Window grouping, the queries and the exact matching of rows to windows.
#include "mass_search.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>

#include "db_engine.h"

namespace tvsearch {
namespace {

struct Window {
    double lo, hi; // neutral mass
    uint32_t peak, ion;
};

// One row of an answer, its fields pointing into the answer text.
struct Fetched {
    double mass;
    long long idKey;
    std::string_view id, formula, name, smiles;
};

long long idKeyOf(std::string_view id) {
    long long v = 0;
    auto [p, ec] = std::from_chars(id.data(), id.data() + id.size(), v);
    return ec == std::errc() && p == id.data() + id.size() && !id.empty() ? v : LLONG_MAX;
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    return s;
}

// Cuts the shared answer format (db_answer.h) into rows of five fields.
void parseAnswer(const std::string& text, std::vector<Fetched>& rows, long& withoutMass) {
    rows.clear();
    std::string_view f[5];
    int k = 0;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != ';' && c != '\n') continue;
        if (k < 5) f[k] = std::string_view(text.data() + start, i - start);
        ++k;
        start = i + 1;
        if (c != '\n') continue;
        if (k >= 5) {
            Fetched r;
            const std::string_view m = trimLeft(f[1]);
            auto [p, ec] = std::from_chars(m.data(), m.data() + m.size(), r.mass);
            if (ec != std::errc() || !std::isfinite(r.mass)) {
                ++withoutMass;
            } else {
                r.id = trimLeft(f[0]);
                r.idKey = idKeyOf(r.id);
                r.formula = trimLeft(f[2]);
                r.name = trimLeft(f[3]);
                r.smiles = trimLeft(f[4]);
                rows.push_back(r);
            }
        }
        k = 0;
    }
}

void appendFixed(std::string& out, double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 9);
    out.append(buf, r.ptr);
}

// How many rows between two windows are worth fetching rather than sending another query:
// the ratio of the cost of a query to the cost of a row. Both are taken as the least seen
// (a query of few rows shows the cost of a query, one of many rows the cost of a row), which
// load on the machine can only inflate; until both are seen, a ratio measured with the
// host's SQLite engine.
class CostModel {
  public:
    void add(double rows, double seconds) {
        if (rows < 8 && (perQuery_ < 0 || seconds < perQuery_)) perQuery_ = seconds;
        if (rows >= 1000 && (perRow_ < 0 || seconds / rows < perRow_)) perRow_ = seconds / rows;
    }
    double breakEvenRows() const {
        if (perQuery_ <= 0 || perRow_ <= 0) return kDefault;
        return std::clamp(perQuery_ / perRow_, kMin, kMax);
    }

  private:
    static constexpr double kDefault = 32, kMin = 4, kMax = 4096;
    double perQuery_ = -1, perRow_ = -1;
};

// Expected rows of one query, at most: answers of a few megabytes stay in the allocator's
// heap and in the processor's caches.
constexpr double kMaxBatchRows = 20000;

} // namespace

uint32_t HitStore::add(std::string_view id, double mass, std::string_view formula,
                       std::string_view name, std::string_view smiles) {
    auto it = formulaIndex_.find(formula);
    uint32_t f;
    if (it == formulaIndex_.end()) {
        f = uint32_t(formulas_.size());
        formulas_.emplace_back(formula);
        formulaIndex_.emplace(std::string_view(formulas_.back()), f);
    } else {
        f = it->second;
    }
    const size_t need = id.size() + name.size() + smiles.size();
    if (blocks_.empty() || blockUsed_ + need > blockSize_) {
        blockSize_ = std::max<size_t>(need, size_t(8) << 20);
        blocks_.push_back(std::make_unique<char[]>(blockSize_));
        blockUsed_ = 0;
    }
    char* p = blocks_.back().get() + blockUsed_;
    blockUsed_ += need;
    Row r{idKeyOf(id),          mass,
          f,                    p,
          uint32_t(id.size()),  uint32_t(name.size()),
          uint32_t(smiles.size())};
    for (std::string_view t : {id, name, smiles}) {
        std::memcpy(p, t.data(), t.size());
        p += t.size();
    }
    rows_.push_back(r);
    return uint32_t(rows_.size() - 1);
}

std::string_view HitStore::id(const Row& r) const {
    return std::string_view(r.text, r.idSize);
}
std::string_view HitStore::name(const Row& r) const {
    return std::string_view(r.text + r.idSize, r.nameSize);
}
std::string_view HitStore::smiles(const Row& r) const {
    return std::string_view(r.text + r.idSize + r.nameSize, r.smilesSize);
}

bool ionFitsPeak(const Ion& ion, const PeakRecord& peak) {
    if (peak.charges.empty()) return true;
    for (const PeakRecord::Charge& c : peak.charges)
        if (c.magnitude == ion.absCharge() &&
            (c.sign == 0 || (c.sign > 0) == (ion.charge > 0)))
            return true;
    return false;
}

void neutralWindow(const Ion& ion, double measuredMz, const Tolerance& tol, double& lo, double& hi) {
    lo = ion.neutral(tol.lowestTheoretical(measuredMz));
    hi = ion.neutral(tol.highestTheoretical(measuredMz));
    if (lo > hi) std::swap(lo, hi);
    lo = std::max(lo, 0.0);
}

bool searchDatabase(DbEngine& db, const std::vector<PeakRecord>& peaks,
                    const std::vector<Ion>& ions, const Tolerance& tol, std::vector<Hit>& hits,
                    HitStore& store, QueryStats& stats, std::string& error,
                    const std::function<void(double)>& progress) {
    std::vector<Window> windows;
    windows.reserve(peaks.size() * ions.size());
    for (uint32_t p = 0; p < peaks.size(); ++p)
        for (uint32_t i = 0; i < ions.size(); ++i) {
            if (!ionFitsPeak(ions[i], peaks[p])) continue;
            Window w{0, 0, p, i};
            neutralWindow(ions[i], peaks[p].mz, tol, w.lo, w.hi);
            if (w.hi > 0) windows.push_back(w);
        }
    std::sort(windows.begin(), windows.end(), [](const Window& a, const Window& b) {
        return a.lo < b.lo || (a.lo == b.lo && (a.peak < b.peak || (a.peak == b.peak && a.ion < b.ion)));
    });
    stats.windows += long(windows.size());

    CostModel cost;
    // Rows per Da near the current windows (0: not known yet), as the ratio of decayed sums
    // of rows and spans: masses come in lumps (the isomers of a formula share one), so a
    // mean of per-query densities would be ruled by the empty windows between lumps.
    double density = 0, rowSum = 0, spanSum = 0, lastSpan = 0;
    std::vector<Fetched> rows;
    std::vector<int64_t> stored; // HitStore row of each fetched row, -1 when not stored yet
    std::string sql;
    // Pending groups of windows [first, last); a group whose answer is too large is split.
    std::vector<std::pair<size_t, size_t>> pending;
    size_t next = 0, done = 0;

    while (next < windows.size() || !pending.empty()) {
        size_t first, last;
        if (!pending.empty()) {
            std::tie(first, last) = pending.back();
            pending.pop_back();
        } else {
            first = next;
            double hi = windows[first].hi;
            last = first + 1;
            const double gapLimit = density > 0 ? cost.breakEvenRows() / density : 0;
            // The density ahead may be far higher than behind (the rows crowd towards the
            // middle of the mass range): a query spans at most four times the last one.
            const double spanLimit =
                density > 0 ? std::min(kMaxBatchRows / density, 4 * std::max(lastSpan, 1e-3)) : 0;
            while (last < windows.size()) {
                const Window& w = windows[last];
                if (w.lo - hi > gapLimit) break;
                const double newHi = std::max(hi, w.hi);
                if (newHi - windows[first].lo > spanLimit) break;
                hi = newHi;
                ++last;
            }
            next = last;
        }
        double lo = windows[first].lo, hi = windows[first].hi;
        for (size_t k = first; k < last; ++k)
            hi = std::max(hi, windows[k].hi);
        // A little wider than the windows: the rows are matched exactly below.
        const double margin = 1e-7 + hi * 1e-12;

        sql = "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE (MassMI >= ";
        appendFixed(sql, std::max(0.0, lo - margin));
        sql += ") AND (MassMI <= ";
        appendFixed(sql, hi + margin);
        sql += ") ORDER BY MassMI";
        const auto t0 = std::chrono::steady_clock::now();
        CommandResult r = db.query(sql);
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        stats.seconds += secs;
        ++stats.queries;
        if (r.code == DB_ANSWER_TOO_LARGE && last - first > 1) {
            const size_t mid = first + (last - first) / 2;
            pending.emplace_back(mid, last);
            pending.emplace_back(first, mid);
            continue;
        }
        if (r.code != 0) {
            error = r.text.empty() ? "the query failed (code " + std::to_string(r.code) + ")" : r.text;
            return false;
        }
        parseAnswer(r.text, rows, stats.rowsWithoutMass);
        stats.rowsFetched += long(rows.size());
        cost.add(double(rows.size()), secs);
        rowSum = 0.8 * rowSum + double(rows.size());
        lastSpan = std::max(hi - lo, 1e-6);
        spanSum = 0.8 * spanSum + lastSpan;
        density = (rowSum + 0.5) / spanSum;

        // Rows in ascending mass, ties by ID, whatever order the engine returned.
        auto before = [](const Fetched& a, const Fetched& b) {
            return a.mass < b.mass || (a.mass == b.mass && (a.idKey < b.idKey ||
                                                             (a.idKey == b.idKey && a.id < b.id)));
        };
        if (!std::is_sorted(rows.begin(), rows.end(), before))
            std::sort(rows.begin(), rows.end(), before);
        stored.assign(rows.size(), -1);
        for (size_t k = first; k < last; ++k) {
            const Window& w = windows[k];
            const Ion& ion = ions[w.ion];
            const double x = peaks[w.peak].mz;
            auto it = std::lower_bound(rows.begin(), rows.end(), w.lo - margin,
                                       [](const Fetched& f, double v) { return f.mass < v; });
            for (; it != rows.end() && it->mass <= w.hi + margin; ++it) {
                const double theo = ion.mz(it->mass);
                if (!(theo > 0) || !tol.accepts(x, theo)) continue;
                const size_t idx = size_t(it - rows.begin());
                if (stored[idx] < 0)
                    stored[idx] = store.add(it->id, it->mass, it->formula, it->name, it->smiles);
                hits.push_back({w.peak, w.ion, uint32_t(stored[idx]), theo});
            }
        }
        done += last - first;
        if (progress) progress(windows.empty() ? 1.0 : double(done) / double(windows.size()));
    }
    return true;
}

} // namespace tvsearch
