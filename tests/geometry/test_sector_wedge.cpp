#include "geometry/sector_wedge.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The angle test as the kernels define it.
bool KeepByAngle(float start, float end, float ax, float ay) {
    const float phi = PolarAngle(ax, ay);
    if (end > start) return start < phi && phi < end;
    if (start > end) return phi > start || phi < end;
    return false;
}

struct Bounds {
    float start, end;
};

// Offsets around every direction where the decision can change, from far
// inside the margin to well past it, at small and large radii; plus a lattice
// of pixel offsets, plain and turned into an elliptical frame.
std::vector<std::pair<float, float>> Probes(const Bounds& b) {
    std::vector<std::pair<float, float>> p;
    std::vector<double> dirs{0.0, M_PI, b.start, b.end, b.start + M_PI, b.end + M_PI};
    for (double a : dirs) {
        for (double rho : {0.7, 3.0, 100.0, 2900.0}) {
            for (int j = -4000; j <= 4000; ++j) {
                const double t = a + j * 1e-6;
                p.emplace_back(static_cast<float>(rho * std::cos(t)), static_cast<float>(-rho * std::sin(t)));
            }
            for (int j = -300; j <= 300; ++j) {
                const double t = a + j * 1e-9;
                p.emplace_back(static_cast<float>(rho * std::cos(t)), static_cast<float>(-rho * std::sin(t)));
            }
        }
    }
    for (float ax : {20.0f, -20.0f, 1e-30f, 0.0f})
        for (float ay : {0.0f, -0.0f, 1e-6f, -1e-6f, 1e-30f, -1e-30f, 3.0f}) p.emplace_back(ax, ay);
    const float q = 1.07f, th = -0.6f;
    const float cq = std::cos(th) / q, sq = std::sin(th) / q, ms = -std::sin(th), c = std::cos(th);
    for (int x = -150; x <= 150; ++x) {
        for (int y = -150; y <= 150; ++y) {
            const float dx = static_cast<float>(x) - 0.37f, dy = static_cast<float>(y) + 0.21f;
            p.emplace_back(dx, dy);
            p.emplace_back(static_cast<float>(x), static_cast<float>(y));
            p.emplace_back(cq * dx + sq * dy, ms * dx + c * dy);
        }
    }
    return p;
}

}  // namespace

TEST(SectorWedge, AgreesWithTheAngleTestNearEveryEdge) {
    const float two_pi = static_cast<float>(2 * M_PI);  // rounds above 2 pi
    const Bounds cases[] = {
        {0.3f, 2.0f},
        {5.0f, 1.0f},
        {1.0f, 1.0f},
        {0.0f, two_pi},
        {std::nextafter(two_pi, 0.0f), 0.5f},
        {-0.5f, 0.5f},
        {3.1415927f, 3.1415925f},
        {1e-4f, 2e-4f},
        {2.0f, 7.0f},
        {0.0f, 3.1415927f},
        {4.0f, 4.0001f},
        {6.0f, 100.0f},
        {-3.0f, -2.0f},
        {NAN, 1.0f},
        {0.0f, INFINITY},
        {-INFINITY, 2.0f},
    };
    for (const Bounds& b : cases) {
        SCOPED_TRACE(testing::Message() << "start " << b.start << " end " << b.end);
        const SectorWedge test(b.start, b.end);
        int wrong = 0;
        for (const auto& o : Probes(b)) {
            if (test(o.first, o.second) != KeepByAngle(b.start, b.end, o.first, o.second) && ++wrong <= 5)
                ADD_FAILURE() << "offset (" << o.first << ", " << o.second << ")";
        }
        EXPECT_EQ(wrong, 0);
    }
}

// Runs of pixels judged at once: whenever a run gets one decision, every pixel
// on it must get that decision from the angle, in the plain and the
// elliptical frame, for runs crossing edges and the zero angle.
TEST(SectorWedge, RunDecisionsHoldForEveryPixel) {
    const Bounds cases[] = {{0.3f, 2.0f}, {5.0f, 1.0f},  {0.0f, 3.1415927f}, {1e-4f, 2e-4f},
                            {2.0f, 7.0f}, {-0.5f, 0.5f}, {1.0f, 1.0f}};
    const float q = 1.07f, th = -0.6f;
    const float cq = std::cos(th) / q, sq = std::sin(th) / q, ms = -std::sin(th), c = std::cos(th);
    for (const Bounds& b : cases) {
        SCOPED_TRACE(testing::Message() << "start " << b.start << " end " << b.end);
        const SectorWedge test(b.start, b.end);
        int wrong = 0, decided = 0;
        for (int frame = 0; frame < 2; ++frame) {
            auto offset = [&](int x, int y, float& ax, float& ay) {
                const float dx = static_cast<float>(x) - 0.37f, dy = static_cast<float>(y) + 0.21f;
                ax = frame ? cq * dx + sq * dy : dx;
                ay = frame ? ms * dx + c * dy : dy;
            };
            for (int x = -120; x <= 120; x += 4) {
                for (int y0 = -130; y0 <= 120; y0 += 7) {
                    for (int len : {5, 32, 64}) {
                        float ax0, ay0, ax1, ay1;
                        offset(x, y0, ax0, ay0);
                        offset(x, y0 + len - 1, ax1, ay1);
                        const SectorWedge::Span span = test.SpanOf(ax0, ay0, ax1, ay1);
                        if (span == SectorWedge::Span::Mixed) continue;
                        ++decided;
                        for (int y = y0; y < y0 + len; ++y) {
                            float ax, ay;
                            offset(x, y, ax, ay);
                            if ((span == SectorWedge::Span::All) != KeepByAngle(b.start, b.end, ax, ay) && ++wrong <= 5)
                                ADD_FAILURE() << "frame " << frame << " pixel (" << x << ", " << y << ") run from "
                                              << y0 << " length " << len;
                        }
                    }
                }
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(decided, 1000);  // most runs are decided at once
    }
}
