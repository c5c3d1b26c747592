#pragma once
// Aggregated isotopic distributions ("IsoDist"): the isotopologues of a formula summed
// per nominal mass offset from the monoisotopic peak, each peak at its
// probability-weighted mean mass, in ascending mass, the strongest scaled to 100.
#include "command_result.h"
#include "formula.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tvchem {

struct Peak {
    double mass;      // u
    double intensity; // the strongest peak is 100
};

enum IsoDistCode {
    kIsoDistOk = 0,
    kIsoDistNoFormula = 1,
    kIsoDistParseError = 2,
    kIsoDistTooLarge = 3,
    kIsoDistFailed = 4,
};

struct IsoDistResult {
    int code = kIsoDistOk; // an IsoDistCode
    std::string error;     // the reason when code != 0
    std::vector<Peak> peaks;
};

// Peaks weaker than this (on the 100 scale, i.e. 0.01 % of the strongest) are left out.
constexpr double kDefaultMinIntensity = 0.01;

// Never throws; failures are reported through code and error.
IsoDistResult isotopicDistribution(std::string_view formulaText,
                                   double minIntensity = kDefaultMinIntensity);
IsoDistResult isotopicDistribution(const Formula& formula,
                                   double minIntensity = kDefaultMinIntensity);

// Distributions of many formulas: the distribution of each element at each atom count is
// computed once and reused, as isomers and homologues share them. The results are those of
// isotopicDistribution, bit for bit. One object is used by one thread at a time.
class IsoDistCalculator {
  public:
    IsoDistCalculator();
    ~IsoDistCalculator();
    IsoDistCalculator(const IsoDistCalculator&) = delete;
    IsoDistCalculator& operator=(const IsoDistCalculator&) = delete;
    // Never throws.
    IsoDistResult compute(const Formula& formula, double minIntensity = kDefaultMinIntensity);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One "mass intensity" line per peak, both with six decimals, C locale:
// "180.063388 100.000000\n".
std::string formatPeaks(const std::vector<Peak>& peaks);

// The host command "IsoDist <formula>": args is everything after the verb. Code 0 with
// the formatPeaks text, otherwise an IsoDistCode with the reason as text. Never throws.
CommandResult isoDistCommand(const std::string& args);

} // namespace tvchem
