// Throughput of the azimuthal integrals, the polar projection and the polar
// rebinning on square float patterns, as the script functions run them (outer
// radius by the default corner rule, projection radius by the inside rule
// less 5). The second argument is the worker-thread count (0: the machine's).
// Times and rates are wall-clock: the main thread's CPU time leaves out the
// work of the other threads.

#include "geometry/azimuthal_integration.h"
#include "geometry/polar_projection.h"
#include "geometry/worker_threads.h"
#include "bench/bench_pattern.h"

#include <benchmark/benchmark.h>

namespace {

const arma::Mat<float>& Pattern(unsigned n) { return BenchPattern(n, 0.37, -0.21, 0.5); }

unsigned Setup(DiffractionPattern& p, benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    SetWorkerThreadCount(static_cast<unsigned>(state.range(1)));
    p.image = Pattern(n);
    p.centerX = n / 2.0f + 0.37f;
    p.centerY = n / 2.0f - 0.21f;
    p.axisRatio = 1.04f;
    p.angle = 0.5f;
    return n;
}

void Done(benchmark::State& state, unsigned n) {
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * n);
    SetWorkerThreadCount(0);
}

// Most of the circle, across the angle wrap-around.
const float kStart = 2.0f, kEnd = 1.0f;

void BM_AzimuthalIntegral(benchmark::State& state) {
    DiffractionPattern p;
    const unsigned n = Setup(p, state);
    const std::uint32_t R = static_cast<std::uint32_t>(MaxRadius(p, 0));
    for (auto _ : state) benchmark::DoNotOptimize(AzimuthalIntegralCore(p, 0, R, 0));
    Done(state, n);
}

void BM_AzimuthalIntegralEllipticity(benchmark::State& state) {
    DiffractionPattern p;
    const unsigned n = Setup(p, state);
    const std::uint32_t R = static_cast<std::uint32_t>(MaxRadius(p, 0));
    for (auto _ : state) benchmark::DoNotOptimize(AzimuthalIntegralEllipticityCore(p, 0, R, 0));
    Done(state, n);
}

void BM_AzimuthalIntegralSektor(benchmark::State& state) {
    DiffractionPattern p;
    const unsigned n = Setup(p, state);
    const std::uint32_t R = static_cast<std::uint32_t>(MaxRadius(p, 0));
    for (auto _ : state) benchmark::DoNotOptimize(AzimuthalIntegralSektorCore(p, 0, R, kStart, kEnd, 0));
    Done(state, n);
}

void BM_AzimuthalIntegralSektorEllipticity(benchmark::State& state) {
    DiffractionPattern p;
    const unsigned n = Setup(p, state);
    const std::uint32_t R = static_cast<std::uint32_t>(MaxRadius(p, 0));
    for (auto _ : state) benchmark::DoNotOptimize(AzimuthalIntegralSektorEllipticityCore(p, 0, R, kStart, kEnd, 0));
    Done(state, n);
}

void BM_AzimuthalProjection(benchmark::State& state) {
    DiffractionPattern p;
    const unsigned n = Setup(p, state);
    const std::uint32_t R = static_cast<std::uint32_t>(MaxRadius(p, 1) - 5);
    for (auto _ : state) benchmark::DoNotOptimize(AzimuthalProjectionCore(p, 1, R, 0));
    Done(state, n);
}

// The ellipticity fit's rebinning: 36 sectors of the ring band 0.25 .. 0.35 n.
void BM_PolarRebin(benchmark::State& state) {
    DiffractionPattern p;
    const unsigned n = Setup(p, state);
    arma::Mat<float> S, W;
    for (auto _ : state) {
        PolarRebin(p.image, S, W, static_cast<int>(n * 0.25), static_cast<int>(n * 0.35), p.centerX, p.centerY, 36);
        benchmark::DoNotOptimize(S.memptr());
    }
    Done(state, n);
}

}  // namespace

#define SIZES                                   \
    ->ArgsProduct({{1024, 2048, 4096}, {0, 1}}) \
        ->ArgNames({"n", "threads"})            \
        ->Unit(benchmark::kMillisecond)         \
        ->UseRealTime()                         \
        ->Repetitions(5)                        \
        ->ReportAggregatesOnly(true)
BENCHMARK(BM_AzimuthalIntegral) SIZES;
BENCHMARK(BM_AzimuthalIntegralEllipticity) SIZES;
BENCHMARK(BM_AzimuthalIntegralSektor) SIZES;
BENCHMARK(BM_AzimuthalIntegralSektorEllipticity) SIZES;
BENCHMARK(BM_AzimuthalProjection) SIZES;
BENCHMARK(BM_PolarRebin) SIZES;

BENCHMARK_MAIN();
