#pragma once
// The database side of a batch search. Every peak and ion gives a neutral-mass window: the
// m/z interval that the tolerance accepts (tolerance.h), turned into neutral masses by the
// ion (adduct.h). The windows are sorted and neighbouring ones are fetched by one query
// when the rows between them cost less than another query would; the rows are then matched
// to each window exactly, in the m/z domain. So the database answers a few large queries
// instead of one per window, which matters most for a server behind ODBC, and the hits do
// not depend on how the windows were grouped.
//
// Queries go through DbEngine::query as plain SQL every engine reads:
//   SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules
//   WHERE (MassMI >= lo) AND (MassMI <= hi) ORDER BY MassMI
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "adduct.h"
#include "db_engine.h"
#include "peak_list.h"
#include "tolerance.h"

namespace tvsearch {

// The rows that were hits, each stored once; formulas are kept once per distinct text.
class HitStore {
  public:
    struct Row {
        long long idKey; // the ID as a number (for ordering); LLONG_MAX when it is not one
        double mass;
        uint32_t formula; // index of the formula's text (formulaText)
        const char* text; // ID, Name and Smiles, one after the other, in the arena
        uint32_t idSize, nameSize, smilesSize;
    };
    uint32_t add(std::string_view id, double mass, std::string_view formula,
                 std::string_view name, std::string_view smiles);
    const Row& row(uint32_t i) const { return rows_[i]; }
    size_t size() const { return rows_.size(); }
    std::string_view id(const Row& r) const;
    std::string_view name(const Row& r) const;
    std::string_view smiles(const Row& r) const;
    const std::string& formula(const Row& r) const { return formulas_[r.formula]; }
    const std::string& formulaText(uint32_t f) const { return formulas_[f]; }
    size_t formulaCount() const { return formulas_.size(); }

  private:
    std::vector<Row> rows_;
    std::deque<std::string> formulas_; // elements never move: the index keys point into them
    std::unordered_map<std::string_view, uint32_t> formulaIndex_;
    // Texts in blocks that never move, so that growing costs no copy.
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t blockUsed_ = 0, blockSize_ = 0;
};

struct Hit {
    uint32_t peak;
    uint32_t ion;
    uint32_t row; // HitStore row
    double theoreticalMz;
};

struct QueryStats {
    long windows = 0;
    long queries = 0;
    long rowsFetched = 0;
    long rowsWithoutMass = 0;
    double seconds = 0; // inside DbEngine::query
};

// True when the ion may be searched for this peak (its charges, when the list gives them).
bool ionFitsPeak(const Ion& ion, const PeakRecord& peak);

// The neutral-mass window of one peak and ion (may be empty: hi <= 0).
void neutralWindow(const Ion& ion, double measuredMz, const Tolerance& tol, double& lo, double& hi);

// Searches every peak as every ion that fits it. Hits are appended in no particular order.
// On a database failure returns false with the engine's message in error.
bool searchDatabase(DbEngine& db, const std::vector<PeakRecord>& peaks,
                    const std::vector<Ion>& ions, const Tolerance& tol, std::vector<Hit>& hits,
                    HitStore& store, QueryStats& stats, std::string& error,
                    const std::function<void(double)>& progress = {});

} // namespace tvsearch
