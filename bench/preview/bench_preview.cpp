// The structure preview's speed: from SetMolecule to the painted panel for
// a drug-sized molecule, and a paint alone (the toolkit's render, nothing
// cached) for molecules up to about 1,000 heavy atoms, however long their
// layout took on the worker. Median and maximum are reported as counters.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "preview_molecules.h"
#include "render2d.h"
#include "test_host.h"

extern "C" TW_PLUGINFO* Init(TW_INFO*);
extern "C" int32_t Free(void);

namespace {

using preview_test::Atorvastatin;
using preview_test::Peptide;

struct Stage {
    std::unique_ptr<TestHost> host;
    std::unique_ptr<QFrame> panel;
    std::unique_ptr<CRender2D> renderer;
    Stage() {
        host = std::make_unique<TestHost>();
        host->answer("Get PrfLang", 0, "english");
        Init(&host->info);
        panel = std::make_unique<QFrame>();
        panel->resize(334, 363);
        panel->show();
        renderer = std::make_unique<CRender2D>(panel.get());
        renderer->Delay = 0;
    }
    ~Stage() {
        renderer.reset();
        panel.reset();
        Free();
    }
    // Requests text and serves events until its picture has been painted.
    void ShowAndWait(const std::string& text) {
        const uint64_t before = renderer->Generation();
        renderer->SetMolecule(text.c_str(), true);
        while (!(renderer->Generation() > before && renderer->ShownText() == text &&
                 renderer->PaintedGeneration() == renderer->Generation()))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
};

void Report(benchmark::State& state, std::vector<double>& ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["max_ms"] = ms.back();
}

// SetMolecule to painted: parse and layout on the worker, the posted
// repaint, the render in the paint.
void BM_SetMoleculeToPainted(benchmark::State& state) {
    Stage stage;
    stage.ShowAndWait("CCO");
    std::vector<double> ms;
    bool flip = false;
    for (auto _ : state) {
        // Alternate the panel's width by a pixel so that no picture is reused.
        stage.panel->resize(flip ? 334 : 335, 363);
        flip = !flip;
        QElapsedTimer t;
        t.start();
        stage.ShowAndWait(Atorvastatin);
        const double elapsed = t.nsecsElapsed() / 1e6;
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000);
    }
    Report(state, ms);
}
BENCHMARK(BM_SetMoleculeToPainted)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

// One paint, rendered afresh, of a molecule already laid out by the worker.
void BM_PaintOnly(benchmark::State& state) {
    Stage stage;
    const std::string text =
        state.range(0) == 0 ? std::string(Atorvastatin) : Peptide(static_cast<int>(state.range(0)));
    stage.ShowAndWait(text);
    std::vector<double> ms;
    bool flip = false;
    for (auto _ : state) {
        stage.panel->resize(flip ? 334 : 335, 363);
        flip = !flip;
        QElapsedTimer t;
        t.start();
        stage.panel->repaint();
        const double elapsed = t.nsecsElapsed() / 1e6;
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000);
    }
    state.SetLabel(state.range(0) == 0 ? "atorvastatin (41 heavy atoms)"
                                       : std::to_string(state.range(0)) + "-residue peptide");
    Report(state, ms);
}
// 125 residues: 985 heavy atoms.
BENCHMARK(BM_PaintOnly)
    ->Arg(0)
    ->Arg(60)
    ->Arg(125)
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
