#include "sample_pattern.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kGoldLattice = 4.0782;    // Angstrom, fcc
constexpr double kGoldDebyeWaller = 0.62;  // B, Angstrom^2

// Uniform in [0, 1) from the engine's bits, so that the noise does not
// depend on the standard library's distributions.
class Uniform {
public:
    explicit Uniform(uint64_t seed) : engine_(seed) {}
    double operator()() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

private:
    std::mt19937_64 engine_;
};

// Poisson sample: multiplication for small means, Hoermann's transformed
// rejection (PTRS) otherwise. Both are exact.
double Poisson(double mu, Uniform& uniform) {
    if (mu <= 0) return 0;
    if (mu < 10) {
        const double limit = std::exp(-mu);
        double prod = uniform();
        int k = 0;
        while (prod > limit) {
            ++k;
            prod *= uniform();
        }
        return k;
    }
    const double slam = std::sqrt(mu), loglam = std::log(mu);
    const double b = 0.931 + 2.53 * slam;
    const double a = -0.059 + 0.02483 * b;
    const double inv_alpha = 1.1239 + 1.1328 / (b - 3.4);
    const double vr = 0.9277 - 3.6224 / (b - 2);
    for (;;) {
        const double u = uniform() - 0.5;
        const double v = uniform();
        const double us = 0.5 - std::fabs(u);
        const double k = std::floor((2 * a / us + b) * u + mu + 0.43);
        if (us >= 0.07 && v <= vr) return k;
        if (k < 0 || (us < 0.013 && v > us)) continue;
        if (std::log(v) + std::log(inv_alpha) - std::log(a / (us * us) + b) <= -mu + k * loglam - std::lgamma(k + 1))
            return k;
    }
}

bool FccAllowed(int h, int k, int l) {
    const int odd = (h & 1) + (k & 1) + (l & 1);
    return odd == 0 || odd == 3;
}

// The fcc rings with h^2 + k^2 + l^2 <= n_max, in order of radius.
std::vector<SampleRing> FccRings(int n_max) {
    std::map<int, SampleRing> by_n;
    const int lim = static_cast<int>(std::sqrt(static_cast<double>(n_max))) + 1;
    for (int h = -lim; h <= lim; ++h)
        for (int k = -lim; k <= lim; ++k)
            for (int l = -lim; l <= lim; ++l) {
                const int n = h * h + k * k + l * l;
                if (n == 0 || n > n_max || !FccAllowed(h, k, l)) continue;
                SampleRing& ring = by_n[n];
                ring.n = n;
                ++ring.multiplicity;
                int v[3] = {std::abs(h), std::abs(k), std::abs(l)};
                std::sort(v, v + 3, [](int x, int y) { return x > y; });
                if (v[0] != std::abs(h) || v[1] != std::abs(k) || v[2] != std::abs(l) || h < 0 || k < 0 || l < 0)
                    continue;  // label each family once, by its h >= k >= l >= 0 member
                const std::string label = std::to_string(v[0]) + std::to_string(v[1]) + std::to_string(v[2]);
                ring.hkl = ring.hkl.empty() ? label : label + "/" + ring.hkl;
            }
    std::vector<SampleRing> rings;
    for (auto& entry : by_n) rings.push_back(entry.second);
    return rings;
}

// The geometry the options ask for: centre, distortion, scale, background
// and beam stop; no rings yet.
SamplePattern PatternGeometry(const SampleOptions& o) {
    SamplePattern p;
    p.width = o.width;
    p.height = o.height;
    const double size = std::min(o.width, o.height);
    // Off the pixel grid and off the image middle, well inside the middle third.
    p.center_x = 0.514 * o.width + 0.37;
    p.center_y = 0.488 * o.height + 0.61;
    p.axis_ratio = o.axis_ratio;
    p.angle_rad = o.angle_deg * kPi / 180.0;
    p.lattice = kGoldLattice;
    // The 111 ring at 9 % of the image size.
    p.pixels_per_inv_angstrom = 0.09 * size / (std::sqrt(3.0) / kGoldLattice);
    p.ring_sigma = std::max(0.8, 1.6 * size / 1024.0);
    p.background_scale = 20.0;
    p.background_offset = 150.0;
    p.stop_radius = 0.035 * size;
    p.arm_angle_rad = 235.0 * kPi / 180.0;
    p.arm_half_width = 0.012 * size;
    return p;
}

// The rings that stay inside the image, up to 38 % of its size, as far as
// each stands apart from its neighbours, with their peak heights.
void ChooseRings(SamplePattern& p, const KirklandCoefficients& gold) {
    const double size = std::min(p.width, p.height);
    const double q = p.axis_ratio;
    const double long_axis = 2.0 * std::max(q, 1.0) / (q + 1.0);
    const double inside = std::min({p.center_x, p.center_y, p.width - 1 - p.center_x, p.height - 1 - p.center_y});
    std::vector<SampleRing> reach_in;
    for (SampleRing& ring : FccRings(200)) {
        ring.d = kGoldLattice / std::sqrt(static_cast<double>(ring.n));
        ring.radius = 1.0 / ring.d * p.pixels_per_inv_angstrom;
        if (ring.radius > 0.38 * size || ring.radius * long_axis + 4 * p.ring_sigma > inside) break;
        reach_in.push_back(ring);
    }
    for (size_t i = 0; i < reach_in.size(); ++i) {
        SampleRing& ring = reach_in[i];
        const bool apart = (i == 0 || ring.radius - reach_in[i - 1].radius >= 2 * p.ring_sigma) &&
                           (i + 1 == reach_in.size() || reach_in[i + 1].radius - ring.radius >= 2 * p.ring_sigma);
        if (!apart) {
            p.rings_left_out = static_cast<int>(reach_in.size() - i);
            break;
        }
        const double s = 1.0 / ring.d;
        const double f = gold.ScatteringFactor(s);
        // Multiplicity, |F|^2 ~ f^2, Debye-Waller and a 1/s^2 spread over the ring.
        ring.peak = ring.multiplicity * f * f * std::exp(-kGoldDebyeWaller * s * s / 2) / (s * s);
        p.rings.push_back(ring);
    }
    if (!p.rings.empty()) {
        // The 111 ring peaks at 2.5 times the background under it.
        const double s111 = p.rings[0].radius / p.pixels_per_inv_angstrom;
        const double f = gold.ScatteringFactor(s111);
        const double norm = 2.5 * (p.background_scale * f * f + p.background_offset) / p.rings[0].peak;
        for (SampleRing& ring : p.rings) ring.peak *= norm;
    }
}

// Fills p.pixels row by row, so the noise draws keep one order.
void DrawPixels(SamplePattern& p, const SampleOptions& o, const KirklandCoefficients& gold) {
    const double q = p.axis_ratio;
    const double ca = std::cos(p.angle_rad), sa = std::sin(p.angle_rad);
    const double g = (q + 1.0) / 2.0;
    const double arm_c = std::cos(p.arm_angle_rad), arm_s = std::sin(p.arm_angle_rad);
    const double reach = 6 * p.ring_sigma;
    const double two_var = 2 * p.ring_sigma * p.ring_sigma;
    Uniform uniform(o.seed);
    p.pixels.assign(static_cast<size_t>(o.width) * static_cast<size_t>(o.height), 0.0f);
    for (int y = 0; y < o.height; ++y) {
        for (int x = 0; x < o.width; ++x) {
            const double dx = x - p.center_x, dy = y - p.center_y;
            const double along_arm = dx * arm_c - dy * arm_s;
            const double off_arm = std::fabs(dx * arm_s + dy * arm_c);
            if (dx * dx + dy * dy <= p.stop_radius * p.stop_radius || (along_arm > 0 && off_arm <= p.arm_half_width))
                continue;  // under the beam stop: exactly 0
            const double u = (ca * dx - sa * dy) / q;
            const double w = sa * dx + ca * dy;
            const double r = std::sqrt(u * u + w * w) * g;
            const double f = gold.ScatteringFactor(r / p.pixels_per_inv_angstrom);
            double mean = p.background_scale * f * f + p.background_offset;
            for (const SampleRing& ring : p.rings) {
                const double t = r - ring.radius;
                if (std::fabs(t) < reach) mean += ring.peak * std::exp(-t * t / two_var);
            }
            double value = mean;
            if (o.noise) value = std::max(1.0, Poisson(mean, uniform));
            p.pixels[static_cast<size_t>(y) * o.width + x] = static_cast<float>(value);
        }
    }
}

}  // namespace

SamplePattern MakeSamplePattern(const SampleOptions& o, const KirklandCoefficients& gold) {
    if (o.width < 64 || o.height < 64 || o.width > 16384 || o.height > 16384)
        throw std::invalid_argument("image size must be 64 to 16384 pixels per side");
    if (!(o.axis_ratio >= 0.5 && o.axis_ratio <= 2.0)) throw std::invalid_argument("axis ratio must lie in [0.5, 2]");
    SamplePattern p = PatternGeometry(o);
    ChooseRings(p, gold);
    DrawPixels(p, o, gold);
    return p;
}
