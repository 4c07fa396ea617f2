#include "geometry/diffraction_pattern.h"

#include "geometry/float_bits.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

std::uint32_t PatternWidth(const PatternView& pattern) { return static_cast<std::uint32_t>(pattern.image.rows()); }

std::uint32_t PatternHeight(const PatternView& pattern) { return static_cast<std::uint32_t>(pattern.image.cols()); }

bool CenterIsOffMiddle(const PatternView& pattern) {
    const double w = PatternWidth(pattern);
    const double h = PatternHeight(pattern);
    const double cx = pattern.centerX;
    const double cy = pattern.centerY;
    const bool inMiddle = 0.33 * w < cx && cx < 0.66 * w && 0.33 * h < cy && cy < 0.66 * h;
    return !inMiddle;
}

std::int32_t MaxRadius(const PatternView& pattern, std::uint32_t mode) {
    const float w = static_cast<float>(PatternWidth(pattern));
    const float h = static_cast<float>(PatternHeight(pattern));
    const float cx = pattern.centerX;
    const float cy = pattern.centerY;

    if (mode == 1) {
        if (!CenterIsOffMiddle(pattern)) {
            const float m = std::min(std::min(cx, cy), std::min(h - cy, w - cx));
            return TruncToInt32(m - 1.0f);
        }
        const float mx = std::max(cx, w - cx);
        const float my = std::max(cy, h - cy);
        const float m = std::min(mx, my);
        const double t = static_cast<double>(m) - 1.0;
        return TruncToInt32(std::max(1.0, t));
    }
    if (mode == 2) {
        const float m = std::min(std::max(cx, w - cx), std::max(cy, h - cy));
        return TruncToInt32(m - 1.0f);
    }
    const float x0 = cx, x1 = w - cx, y0 = cy, y1 = h - cy;
    const float d00 = std::sqrt(x0 * x0 + y0 * y0);
    const float d10 = std::sqrt(x1 * x1 + y0 * y0);
    const float d01 = std::sqrt(x0 * x0 + y1 * y1);
    const float d11 = std::sqrt(x1 * x1 + y1 * y1);
    const float d = std::max(std::max(d00, d10), std::max(d01, d11));
    return TruncToInt32(d + 1.0f) - 10;
}

namespace {

// Index of the pixel nearest to `coordinate`, or -1 when that lies outside
// 0 .. count - 1 (or `coordinate` is not a number).
std::int64_t NearestInside(double coordinate, arma::uword count) {
    const double nearest = std::floor(coordinate + 0.5);
    if (!(nearest >= 0.0 && nearest < static_cast<double>(count))) return -1;
    return static_cast<std::int64_t>(nearest);
}

}  // namespace

bool CenterOfMassAboveThreshold(const arma::Mat<float>& matrix, float threshold, float& cx, float& cy) {
    const arma::uword rows = matrix.n_rows;
    const arma::uword cols = matrix.n_cols;
    // A pattern is centrosymmetric, so a missing pixel borrows the pixel
    // mirrored through the reference centre. Where that partner is outside
    // the matrix or missing too, the pair drops out together and the sums
    // stay balanced about the reference.
    const double mirrorX = 2.0 * static_cast<double>(cx);
    const double mirrorY = 2.0 * static_cast<double>(cy);
    double sx = 0.0, sy = 0.0, sw = 0.0;
    bool missing = false;

    // Row-major walk: the sums are order dependent.
    for (arma::uword x = 0; x < rows; ++x) {
        const float fx = static_cast<float>(x);
        const std::int64_t partnerX = NearestInside(mirrorX - static_cast<double>(x), rows);
        for (arma::uword y = 0; y < cols; ++y) {
            const float v = matrix.at(x, y);
            const float fy = static_cast<float>(y);
            if (v > threshold) {
                sx += static_cast<double>(fx * v);
                sy += static_cast<double>(fy * v);
                sw += static_cast<double>(v);
            } else if (v == 0.0f) {
                missing = true;
                if (partnerX < 0) continue;
                const std::int64_t partnerY = NearestInside(mirrorY - static_cast<double>(y), cols);
                if (partnerY < 0) continue;
                const float p = matrix.at(static_cast<arma::uword>(partnerX), static_cast<arma::uword>(partnerY));
                if (p > threshold) {
                    sx += static_cast<double>(fx * p);
                    sy += static_cast<double>(fy * p);
                    sw += static_cast<double>(p);
                }
            }
        }
    }
    cx = static_cast<float>(sx / sw);
    cy = static_cast<float>(sy / sw);
    return missing;
}

namespace {

// The centre of mass with the missing pixels mirrored through the centre it
// finds: each result is the next reference, until it moves by 0.01 pixel or
// less (eight sums at most). Without missing pixels the reference does not
// matter and one sum is the result.
void SettledCenterOfMass(const arma::Mat<float>& matrix, float threshold, float& cx, float& cy) {
    for (int round = 0; round < 8; ++round) {
        const float lastX = cx, lastY = cy;
        if (!CenterOfMassAboveThreshold(matrix, threshold, cx, cy)) return;
        if (!(std::fabs(cx - lastX) > 0.01f || std::fabs(cy - lastY) > 0.01f)) return;
    }
}

}  // namespace

void GuessCenterCore(DiffractionPattern& pattern, std::uint32_t refine) {
    const arma::Mat<float>& image = pattern.image;
    // Armadillo's float mean, as the threshold has always been taken.
    const float threshold =
        image.n_elem == 0 ? std::numeric_limits<float>::quiet_NaN()
                          : arma::mean(arma::Col<float>(const_cast<float*>(image.memptr()), image.n_elem, false, true));
    SettledCenterOfMass(image, threshold, pattern.centerX, pattern.centerY);
    if (refine == 0) return;

    const std::int32_t r = MaxRadius(pattern, 1);
    const float fr = static_cast<float>(r);
    const float w = static_cast<float>(PatternWidth(pattern));
    const float h = static_cast<float>(PatternHeight(pattern));
    const float cx = pattern.centerX;
    const float cy = pattern.centerY;
    if (!(cx - fr > 0.0f && cy - fr > 0.0f && w - 1.0f > cx + fr && h - 1.0f > cy + fr)) return;

    const arma::uword x0 = static_cast<arma::uword>(TruncToInt64(cx - fr));
    const arma::uword x1 = static_cast<arma::uword>(TruncToInt64(cx + fr));
    const arma::uword y0 = static_cast<arma::uword>(TruncToInt64(cy - fr));
    const arma::uword y1 = static_cast<arma::uword>(TruncToInt64(cy + fr));
    const arma::Mat<float> window = image.submat(x0, y0, x1, y1);
    // The first result, moved into the window's frame, is the first
    // reference of the missing pixels there.
    pattern.centerX = cx - static_cast<float>(x0);
    pattern.centerY = cy - static_cast<float>(y0);
    SettledCenterOfMass(window, threshold, pattern.centerX, pattern.centerY);
    pattern.centerX += static_cast<float>(x0);
    pattern.centerY += static_cast<float>(y0);
}

void EllipseRadius(const arma::Col<float>& parameters, float* radii, std::uint32_t n, const float* positions) {
    if (parameters.n_elem < 3) throw std::invalid_argument("EllipseRadius: needs radius, ratio and angle");
    const float R = parameters(0);
    const float q = parameters(1);
    const float theta = parameters(2);
    const float s = 1.0f / q;
    const double period = static_cast<double>(positions[n]);
    for (std::uint32_t k = 0; k < n; ++k) {
        const float phi = static_cast<float>((static_cast<double>(positions[k]) + 0.5) * 2.0 * M_PI / period);
        const float c = std::cos(phi - theta);
        radii[k] = 2.0f * R * s / (s + 1.0f) / std::sqrt(1.0f - (1.0f - s * s) * c * c);
    }
}
