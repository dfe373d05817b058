// mandelbrot-bench: the fast drawing path against the plain reference loop,
// on three views that stress it differently.

#include <benchmark/benchmark.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "setview/colour.h"
#include "setview/escape_counts.h"
#include "setview/escape_kernel.h"
#include "setview/random_source.h"
#include "setview/view_state.h"

namespace {

setview::ViewState benchView(float pressX, float pressY, int presses) {
    setview::RandomSource random(1);
    setview::ViewState view;
    view.wid = 500;
    view.hei = 500;
    setview::resetView(view, random);
    for (int i = 0; i < presses; ++i) {
        setview::zoomAt(view, pressX, pressY);
    }
    return view;
}

void reportPasses(benchmark::State& state, std::uint64_t passes) {
    state.counters["passes"] = benchmark::Counter(static_cast<double>(passes) * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

// Counts and colours into a 501 x 501 pixel buffer, as a drawing makes them.
// Each grid lives for one drawing, as in the program: the allocator then
// hands the same memory back every time instead of trimming and faulting in
// a second buffer.
void renderSet(benchmark::State& state, setview::ViewState view) {
    std::vector<setview::Colour> pixels(501U * 501U);
    for (auto _ : state) {
        const setview::CountGrid grid = setview::escapeCounts(view);
        const setview::ColourTable colours = setview::colourTable(view);
        for (std::size_t i = 0; i < grid.counts.size(); ++i) {
            pixels[i] = colours[grid.counts[i]];
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    // Outside the timing: the passes made, the share of lane passes that did
    // useful work, and the share of points counted without a pass.
    setview::CountStats stats;
    const setview::CountGrid grid = setview::escapeCounts(view, &stats);
    reportPasses(state, stats.passes);
    state.counters["lanes_busy"] = static_cast<double>(stats.passes) / static_cast<double>(stats.laneSlots);
    state.counters["settled"] = static_cast<double>(stats.settled) / static_cast<double>(grid.counts.size());
}

void reference(benchmark::State& state, setview::ViewState view) {
    for (auto _ : state) {
        const setview::CountGrid grid = setview::referenceCounts(view);
        benchmark::DoNotOptimize(grid.counts.data());
    }
    std::uint64_t passes = 0;
    for (const std::uint8_t n : setview::referenceCounts(view).counts) {
        passes += static_cast<std::uint64_t>(n - 1);
    }
    reportPasses(state, passes);
}

// --target=NAME counts on that SIMD target, as a processor whose best target
// it is would: "AVX2", say, on an AVX-512 machine. Returns whether the target
// is compiled in and supported here.
bool chooseTarget(const char* name) {
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        if (std::strcmp(hwy::TargetName(target), name) == 0) {
            hwy::SetSupportedTargetsForTest(target);
            return true;
        }
    }
    return false;
}

// Three presses into the bulb of period three, whose points no shortcut
// knows: every lane makes every pass.
setview::ViewState insideView() {
    setview::ViewState view = benchView(235, 157, 1);
    setview::zoomAt(view, 250, 250);
    setview::zoomAt(view, 250, 250);
    return view;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr std::string_view kTargetOption = "--target=";
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]).starts_with(kTargetOption)) {
            if (!chooseTarget(argv[i] + kTargetOption.size())) {
                std::fprintf(stderr, "no such target here: %s\n", argv[i] + kTargetOption.size());
                return 2;
            }
            std::copy(argv + i + 1, argv + argc + 1, argv + i);
            --argc;
            --i;
        }
    }
    // The target goes into the run's context, not onto standard output, so
    // that --benchmark_format=json and csv stay what they say they are.
    benchmark::AddCustomContext("counting_target", setview::countTarget());
    // The reset view; three presses into the bulb of period three, where
    // every point stays and makes every pass; three presses at (190, 190),
    // where escaping and staying points mix.
    const struct {
        std::string name;
        setview::ViewState view;
    } views[] = {{"whole", benchView(0, 0, 0)}, {"inside", insideView()}, {"boundary", benchView(190, 190, 3)}};
    for (const auto& [name, view] : views) {
        benchmark::RegisterBenchmark(("RenderSet/" + name).c_str(), renderSet, view)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    for (const auto& [name, view] : views) {
        benchmark::RegisterBenchmark(("Reference/" + name).c_str(), reference, view)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
