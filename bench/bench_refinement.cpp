// Time of the centre and ellipticity refinements on square patterns, run as
// the script functions run them: the simplex centre refinement, two passes of
// the ring-maxima ellipse fit, and one pass with pseudo-Voigt fits; also the
// Powell ratio-and-angle refinement. The minimisers' and fits' status lines
// are sent to /dev/null; the benchmark report goes to the original output.
// The costs run on worker threads, so the times are wall-clock.

#include "geometry/center_refinement.h"
#include "geometry/ellipticity_fit.h"
#include "bench/bench_pattern.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

const arma::Mat<float>& Pattern(unsigned n) { return BenchPattern(n, 2.37, -1.71, 0.7, 2.0 * n / 1024.0); }

void Setup(DiffractionPattern& p, unsigned n) {
    p.image = Pattern(n);
    p.centerX = n / 2.0f;
    p.centerY = n / 2.0f;
    p.axisRatio = 1.0f;
    p.angle = 0.0f;
}

int Inner(unsigned n) { return static_cast<int>(n * 0.25); }
int Outer(unsigned n) { return static_cast<int>(n * 0.35); }

void BM_RefineCenter(benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    DiffractionPattern p;
    for (auto _ : state) {
        state.PauseTiming();
        Setup(p, n);
        state.ResumeTiming();
        RefineCenterCore(p, Inner(n), Outer(n));
    }
}

void BM_RefineCenterEllipticity(benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    DiffractionPattern p;
    std::ostringstream results;
    float radius = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Setup(p, n);
        state.ResumeTiming();
        RefineCenterEllipticityFitCore(p, Inner(n), Outer(n), 36, 2, 0, &radius, results);
        RefineCenterEllipticityFitCore(p, Inner(n), Outer(n), 36, 2, 0, &radius, results);
    }
}

void BM_RefineCenterEllipticityFit(benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    DiffractionPattern p;
    std::ostringstream results;
    float radius = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Setup(p, n);
        state.ResumeTiming();
        RefineCenterEllipticityFitCore(p, Inner(n), Outer(n), 36, 2, 1, &radius, results);
    }
}

void BM_RefineCenterEllipticitySimplex(benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    DiffractionPattern p;
    for (auto _ : state) {
        state.PauseTiming();
        Setup(p, n);
        p.centerX = n / 2.0f + 2.37f;
        p.centerY = n / 2.0f - 1.71f;
        state.ResumeTiming();
        RefineCenterEllipticityCore(p, Inner(n), Outer(n));
    }
}

}  // namespace

#define SIZES                           \
    ->Arg(1024)                         \
        ->Arg(2048)                     \
        ->Arg(4096)                     \
        ->Unit(benchmark::kMillisecond) \
        ->UseRealTime()                 \
        ->Repetitions(3)                \
        ->ReportAggregatesOnly(true)
BENCHMARK(BM_RefineCenter) SIZES;
BENCHMARK(BM_RefineCenterEllipticity) SIZES;
BENCHMARK(BM_RefineCenterEllipticityFit) SIZES;
BENCHMARK(BM_RefineCenterEllipticitySimplex) SIZES;

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // Keep the report, drop the status lines printed on standard output.
    const int saved = dup(1);
    std::ofstream report("/proc/self/fd/" + std::to_string(saved));
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&report);
    reporter.SetErrorStream(&report);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
