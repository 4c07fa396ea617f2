// Throughput of the azimuthal integrals and the polar projection on square
// float patterns, as the script functions run them (outer radius by the
// default corner rule, projection radius by the inside rule less 5).

#include "geometry/azimuthal_integration.h"
#include "geometry/polar_projection.h"
#include "bench/bench_pattern.h"

#include <benchmark/benchmark.h>


namespace {

const arma::Mat<float> &Pattern(unsigned n) { return BenchPattern(n, 0.37, -0.21, 0.5); }

void Setup(DiffractionPattern &p, unsigned n)
{
    p.image = Pattern(n);
    p.centerX = n / 2.0f + 0.37f;
    p.centerY = n / 2.0f - 0.21f;
    p.axisRatio = 1.04f;
    p.angle = 0.5f;
}

void BM_AzimuthalIntegral(benchmark::State &state)
{
    const unsigned n = static_cast<unsigned>(state.range(0));
    DiffractionPattern p;
    Setup(p, n);
    const std::uint32_t R = static_cast<std::uint32_t>(MaxRadius(p, 0));
    for (auto _ : state)
        benchmark::DoNotOptimize(AzimuthalIntegralCore(p, 0, R, 0));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * n);
}

void BM_AzimuthalIntegralEllipticity(benchmark::State &state)
{
    const unsigned n = static_cast<unsigned>(state.range(0));
    DiffractionPattern p;
    Setup(p, n);
    const std::uint32_t R = static_cast<std::uint32_t>(MaxRadius(p, 0));
    for (auto _ : state)
        benchmark::DoNotOptimize(AzimuthalIntegralEllipticityCore(p, 0, R, 0));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * n);
}

void BM_AzimuthalProjection(benchmark::State &state)
{
    const unsigned n = static_cast<unsigned>(state.range(0));
    DiffractionPattern p;
    Setup(p, n);
    const std::uint32_t R = static_cast<std::uint32_t>(MaxRadius(p, 1) - 5);
    for (auto _ : state)
        benchmark::DoNotOptimize(AzimuthalProjectionCore(p, 1, R, 0));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * n);
}

} // namespace

#define SIZES ->Arg(512)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond) \
    ->Repetitions(5)->ReportAggregatesOnly(true)
BENCHMARK(BM_AzimuthalIntegral) SIZES;
BENCHMARK(BM_AzimuthalIntegralEllipticity) SIZES;
BENCHMARK(BM_AzimuthalProjection) SIZES;

BENCHMARK_MAIN();
