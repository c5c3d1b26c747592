#pragma once
// A cost measured against its floor in one run: every iteration times the floor and the
// measured operation back to back (alternating which goes first), so a busy machine slows
// both alike. Reports the medians of wall and CPU time of each and their ratios as counters:
//   floor_us, engine_us, ratio (wall), floor_cpu_us, engine_cpu_us, cpu_ratio.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace benchpair {

inline double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// floor and engine return false (after state.SkipWithError) to stop.
inline void run(benchmark::State& state, const std::function<bool()>& floor,
                const std::function<bool()>& engine) {
    std::vector<double> fw, fc, ew, ec;
    bool engineFirst = false;
    auto timed = [](const std::function<bool()>& f, std::vector<double>& wall,
                    std::vector<double>& cpu) {
        const double c0 = threadCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = f();
        wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        cpu.push_back(threadCpuSeconds() - c0);
        return ok;
    };
    for (auto _ : state) {
        bool ok = engineFirst ? timed(engine, ew, ec) && timed(floor, fw, fc)
                              : timed(floor, fw, fc) && timed(engine, ew, ec);
        if (!ok) return;
        engineFirst = !engineFirst;
    }
    const double f = median(fw), e = median(ew), fcpu = median(fc), ecpu = median(ec);
    state.counters["floor_us"] = f * 1e6;
    state.counters["engine_us"] = e * 1e6;
    state.counters["ratio"] = f > 0 ? e / f : 0;
    state.counters["floor_cpu_us"] = fcpu * 1e6;
    state.counters["engine_cpu_us"] = ecpu * 1e6;
    state.counters["cpu_ratio"] = fcpu > 0 ? ecpu / fcpu : 0;
}

} // namespace benchpair
