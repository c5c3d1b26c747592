// Speed of the host's isotopic distributions and formula parser. The IsoSpecWhole cases
// are the floor: IsoSpec run directly on the whole formula (fine structure, this
// library's isotope table), without aggregation or output.
#include "elements.h"
#include "formula.h"
#include "interpreter.h"
#include "isodist.h"

#include <benchmark/benchmark.h>
#include <isoSpec++.h>

#include <vector>

namespace {

const char* const kGlucose = "C6H12O6";
const char* const kInsulin = "C254H377N65O75S6";
const char* const kAlbumin = "C2934H4615N781O897S39";
const char* const k50k = "C16000H25000N4300O4600S100";

void BM_IsotopicDistribution(benchmark::State& state, const char* formula) {
    for (auto _ : state) {
        tvchem::IsoDistResult r = tvchem::isotopicDistribution(formula);
        benchmark::DoNotOptimize(r.peaks.data());
        if (r.code != 0) state.SkipWithError(r.error.c_str());
    }
}

// The command handler: parse, compute, format the text answer.
void BM_IsoDistCommand(benchmark::State& state, const char* formula) {
    const std::string args = formula;
    for (auto _ : state) {
        CommandResult r = tvchem::isoDistCommand(args);
        benchmark::DoNotOptimize(r.text.data());
        if (r.code != 0) state.SkipWithError(r.text.c_str());
    }
}

// The whole host command as a plug-in sends it, through the host's interpreter.
void BM_IsoDistInterpreter(benchmark::State& state, const char* formula) {
    CommandInterpreter interpreter({"english", "/tmp/", "/tmp/"}, nullptr);
    const std::string line = std::string("IsoDist ") + formula;
    for (auto _ : state) {
        CommandResult r = interpreter.execute(line);
        benchmark::DoNotOptimize(r.text.data());
        if (r.code != 0) state.SkipWithError(r.text.c_str());
    }
}

struct IsoInput {
    std::vector<int> isotopeNumbers, atomCounts;
    std::vector<double> masses, probs;
};

IsoInput isoInput(const char* formula) {
    IsoInput in;
    for (const auto& [sym, n] : tvchem::parseFormula(formula).formula.counts) {
        const tvchem::Element* e = tvchem::findElement(sym);
        in.isotopeNumbers.push_back(static_cast<int>(e->isotopes.size()));
        in.atomCounts.push_back(static_cast<int>(n));
        for (const tvchem::Isotope& iso : e->isotopes) {
            in.masses.push_back(iso.mass);
            in.probs.push_back(iso.abundance);
        }
    }
    return in;
}

IsoSpec::Iso makeIso(const IsoInput& in) {
    return IsoSpec::Iso(static_cast<int>(in.atomCounts.size()), in.isotopeNumbers.data(),
                        in.atomCounts.data(), in.masses.data(), in.probs.data());
}

// Whole-formula fine structure down to 1e-6 of the strongest isotopologue.
void BM_IsoSpecWholeThreshold(benchmark::State& state, const char* formula) {
    const IsoInput in = isoInput(formula);
    for (auto _ : state) {
        IsoSpec::IsoThresholdGenerator gen{makeIso(in), 1e-6, false};
        double sum = 0.0;
        while (gen.advanceToNextConfiguration())
            sum += gen.prob();
        benchmark::DoNotOptimize(sum);
    }
}

// Whole-formula fine structure until 99.99 % of the probability is covered.
void BM_IsoSpecWholeLayered(benchmark::State& state, const char* formula) {
    const IsoInput in = isoInput(formula);
    for (auto _ : state) {
        IsoSpec::IsoLayeredGenerator gen{makeIso(in)};
        double sum = 0.0;
        while (sum < 0.9999 && gen.advanceToNextConfiguration())
            sum += gen.prob();
        benchmark::DoNotOptimize(sum);
    }
}

void BM_ParseFormula(benchmark::State& state, const char* formula) {
    for (auto _ : state) {
        tvchem::FormulaResult r = tvchem::parseFormula(formula);
        benchmark::DoNotOptimize(r.formula.counts.size());
    }
}

} // namespace

BENCHMARK_CAPTURE(BM_IsotopicDistribution, glucose, kGlucose)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsotopicDistribution, insulin, kInsulin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsotopicDistribution, albumin, kAlbumin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsotopicDistribution, atoms50000, k50k)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsotopicDistribution, Sn1000, "Sn1000")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsoDistCommand, insulin, kInsulin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsoDistCommand, albumin, kAlbumin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsoDistInterpreter, insulin, kInsulin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsoDistInterpreter, albumin, kAlbumin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsoSpecWholeThreshold, insulin, kInsulin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsoSpecWholeThreshold, albumin, kAlbumin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsoSpecWholeLayered, insulin, kInsulin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IsoSpecWholeLayered, albumin, kAlbumin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ParseFormula, glucose, kGlucose);
BENCHMARK_CAPTURE(BM_ParseFormula, hexammine, "[Co(NH3)6]Cl3");
BENCHMARK_CAPTURE(BM_ParseFormula, hydrate,
                  "CuSO4\xC2\xB7"
                  "5H2O");
BENCHMARK_CAPTURE(BM_ParseFormula, albumin, kAlbumin);

BENCHMARK_MAIN();
