// Time of whole script-function calls through the stand-in host: the
// integration handlers on square patterns (reading the host's pixels
// included) and the image export of 256 x 8192 cells. The integrations run
// on worker threads, so they are timed by the wall clock.

#include "bench/bench_pattern.h"
#include "host/app/host.h"
#include "host/sdk/entry_points.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using orvanhost::Arg;

orvanhost::HostProgram& TheHost() {
    static orvanhost::HostProgram* host = [] {
        auto* h = new orvanhost::HostProgram;
        h->AttachModule(orvanhost::EntryPoints{HostPlugIn_GetVersion, HostPlugIn_Link_2, PlugInStartup, PlugInRun,
                                               PlugInCleanup, PlugInShutdown});
        return h;
    }();
    return *host;
}

orvanhost::ImagePtr PatternImage(unsigned n) {
    const arma::Mat<float>& m = BenchPattern(n, 2.37, -1.71, 0.7, 2.0 * n / 1024.0);
    return orvanhost::MakeRealImage(n, n, std::vector<float>(m.begin(), m.end()));
}

void BM_AzimuthalIntegralCall(benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    orvanhost::ImagePtr image = PatternImage(n);
    for (auto _ : state) {
        orvanhost::ImagePtr profile;
        TheHost().Call("AzimuthalIntegral", {Arg::Image(image), Arg::ImageSlot(&profile), Arg::Number(n / 2.0 + 2.37),
                                             Arg::Number(n / 2.0 - 1.71), Arg::Number(0), Arg::Number(1)});
        benchmark::DoNotOptimize(profile);
    }
}

void BM_AzimuthalIntegralEllipticityCall(benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    orvanhost::ImagePtr image = PatternImage(n);
    for (auto _ : state) {
        orvanhost::ImagePtr profile;
        TheHost().Call(
            "AzimuthalIntegralEllipticity",
            {Arg::Image(image), Arg::ImageSlot(&profile), Arg::Number(n / 2.0 + 2.37), Arg::Number(n / 2.0 - 1.71),
             Arg::Number(40.0), Arg::Number(1.04), Arg::Number(0), Arg::Number(1)});
        benchmark::DoNotOptimize(profile);
    }
}

void BM_SaveImageAsXlsCall(benchmark::State& state) {
    const unsigned w = 256, h = 8192;
    std::vector<float> pixels(static_cast<std::size_t>(w) * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            pixels[x + static_cast<std::size_t>(y) * w] =
                x % 64 == 0 ? static_cast<float>(x + y) : std::sin(0.01f * x) * 100.0f + 0.001f * y;
    orvanhost::ImagePtr image = orvanhost::MakeRealImage(w, h, pixels);
    const std::string file = "/tmp/bench_handlers_" + std::to_string(getpid()) + ".xls";
    for (auto _ : state) {
        std::remove(file.c_str());
        TheHost().Call("saveimageasxls",
                       {Arg::Image(image), Arg::Text(file), Arg::Text("a b"), Arg::Text("title"), Arg::Text("Pixels")});
    }
    std::remove(file.c_str());
}

}  // namespace

BENCHMARK(BM_AzimuthalIntegralCall)->Arg(1024)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AzimuthalIntegralEllipticityCall)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveImageAsXlsCall)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
