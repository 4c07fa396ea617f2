// Times the integration kernels on one square test pattern and writes the
// pattern as raw 4-byte floats (pixel x + y*W), so that another program can
// be timed on the same image. Used by compare_pyfai.sh.
//
//   compare_kernels N IMAGE_FILE [REPEATS [THREADS]]
//
// Prints "key value" lines: size, centre, bins (the radial bins of the full
// profile), threads, then the fastest of REPEATS runs of each kernel in ms.
// THREADS fixes the worker thread count (default: the machine's). The sector
// kernels run on a narrow sector (0.5 to 2.5 rad), a wide one (0.3 to 6.0) and
// one across the angle's wrap (5.5 to 1.0), whose pieces are mostly inside.

#include "bench/bench_pattern.h"
#include "geometry/azimuthal_integration.h"
#include "geometry/worker_threads.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

double FastestMs(int repeats, const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        const auto t1 = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        if (ms < best) best = ms;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: compare_kernels N IMAGE_FILE [REPEATS]\n");
        return 2;
    }
    const unsigned n = static_cast<unsigned>(std::atoi(argv[1]));
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 10;
    const int threads = argc > 4 ? std::atoi(argv[4]) : 0;
    if (n < 64 || repeats < 1 || threads < 0) {
        std::fprintf(stderr, "N must be at least 64, REPEATS at least 1, THREADS at least 0\n");
        return 2;
    }
    SetWorkerThreadCount(static_cast<unsigned>(threads));
    DiffractionPattern p;
    p.image = BenchPattern(n, 2.37, -1.71, 0.7, 2.0 * n / 1024.0);
    p.centerX = n / 2.0f + 2.37f;
    p.centerY = n / 2.0f - 1.71f;
    p.axisRatio = 1.04f;
    p.angle = 0.7f;
    FILE* f = std::fopen(argv[2], "wb");
    if (!f || std::fwrite(p.image.memptr(), sizeof(float), p.image.n_elem, f) != p.image.n_elem ||
        std::fclose(f) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    const std::uint32_t bins = static_cast<std::uint32_t>(MaxRadius(p, 0));
    std::printf("size %u\ncx %.9g\ncy %.9g\nbins %u\nthreads %u\n", n, p.centerX, p.centerY, bins, WorkerThreadCount());
    volatile float sink = 0;
    std::printf("plain %.3f\n",
                FastestMs(repeats, [&] { sink = sink + AzimuthalIntegralCore(p, 0, bins, 1)[bins / 2]; }));
    std::printf("elliptical %.3f\n",
                FastestMs(repeats, [&] { sink = sink + AzimuthalIntegralEllipticityCore(p, 0, bins, 1)[bins / 2]; }));
    struct Sector {
        const char* name;
        float start, end;
    };
    for (const Sector& s : {Sector{"", 0.5f, 2.5f}, Sector{"_wide", 0.3f, 6.0f}, Sector{"_wrap", 5.5f, 1.0f}}) {
        std::printf("sector%s %.3f\n", s.name, FastestMs(repeats, [&] {
                        sink = sink + AzimuthalIntegralSektorCore(p, 0, bins, s.start, s.end, 1)[bins / 2];
                    }));
        std::printf("sector_elliptical%s %.3f\n", s.name, FastestMs(repeats, [&] {
                        sink = sink + AzimuthalIntegralSektorEllipticityCore(p, 0, bins, s.start, s.end, 1)[bins / 2];
                    }));
    }
    return 0;
}
