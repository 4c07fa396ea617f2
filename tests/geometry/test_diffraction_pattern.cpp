#include "geometry/diffraction_pattern.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void Fill(DiffractionPattern& p, unsigned w, unsigned h, float cx, float cy) {
    p.image.ones(w, h);
    p.centerX = cx;
    p.centerY = cy;
}

}  // namespace

TEST(MaxRadius, CornerAndInsideRules) {
    DiffractionPattern p;
    Fill(p, 512, 512, 256, 256);
    EXPECT_EQ(PatternWidth(p), 512u);
    EXPECT_EQ(MaxRadius(p, 0), 353);
    EXPECT_EQ(MaxRadius(p, 1), 255);

    p.centerX = 100;
    EXPECT_EQ(MaxRadius(p, 0), 476);
    EXPECT_EQ(MaxRadius(p, 1), 255);  // off-middle: min(max(100, 412), 256) - 1
    EXPECT_EQ(MaxRadius(p, 2), 255);

    Fill(p, 1024, 768, 512, 384);
    EXPECT_EQ(PatternHeight(p), 768u);
    EXPECT_EQ(MaxRadius(p, 0), 631);
    EXPECT_EQ(MaxRadius(p, 1), 383);

    // Off-middle near a corner: the far-side extent, never below 1.
    Fill(p, 512, 512, 10, 20);
    EXPECT_EQ(MaxRadius(p, 1), 491);
    Fill(p, 2, 2, 0.2f, 0.2f);
    EXPECT_EQ(MaxRadius(p, 1), 1);
    EXPECT_EQ(MaxRadius(p, 2), 0);
    // Tiny images give a corner radius below 1.
    Fill(p, 14, 14, 7, 7);
    EXPECT_LE(MaxRadius(p, 0), 0);
}

TEST(MaxRadius, MiddleThirdBoundsAreStrict) {
    DiffractionPattern p;
    Fill(p, 100, 100, 33, 50);
    EXPECT_TRUE(CenterIsOffMiddle(p));
    p.centerX = 66;
    EXPECT_TRUE(CenterIsOffMiddle(p));
    p.centerX = 34;
    EXPECT_FALSE(CenterIsOffMiddle(p));
    p.centerY = 66;
    EXPECT_TRUE(CenterIsOffMiddle(p));
    p.centerY = NAN;
    EXPECT_TRUE(CenterIsOffMiddle(p));
    // A not-a-number centre gives some radius, without undefined behaviour.
    (void)MaxRadius(p, 0);
    (void)MaxRadius(p, 1);
    (void)MaxRadius(p, 2);
}

TEST(CenterOfMass, SinglePixelAboveThresholdIsTheCentre) {
    arma::Mat<float> m(40, 30);
    m.fill(3.0f);
    m(17, 9) = 50.0f;
    float cx = 20, cy = 15;
    CenterOfMassAboveThreshold(m, arma::mean(arma::vectorise(m)), cx, cy);
    EXPECT_EQ(cx, 17.0f);
    EXPECT_EQ(cy, 9.0f);
}

TEST(CenterOfMass, ZeroPixelBorrowsItsPartner) {
    arma::Mat<float> m(5, 5, arma::fill::ones);
    m(4, 4) = 0.0f;
    // Partner of (4, 4) around (2, 2) is (2, 2): the hole is filled, the
    // centre of the full square comes back.
    float cx = 2, cy = 2;
    CenterOfMassAboveThreshold(m, 0.5f, cx, cy);
    EXPECT_FLOAT_EQ(cx, 2.0f);
    EXPECT_FLOAT_EQ(cy, 2.0f);
    // A partner outside the matrix adds nothing: 46 / 24.
    cx = -10;
    cy = -10;
    CenterOfMassAboveThreshold(m, 0.5f, cx, cy);
    EXPECT_FLOAT_EQ(cx, 46.0f / 24.0f);
    EXPECT_FLOAT_EQ(cy, 46.0f / 24.0f);
}

TEST(CenterOfMass, NothingAboveThresholdGivesNotANumber) {
    arma::Mat<float> m(8, 8);
    m.fill(2.0f);
    float cx = 4, cy = 4;
    CenterOfMassAboveThreshold(m, 2.0f, cx, cy);
    EXPECT_TRUE(std::isnan(cx));
    EXPECT_TRUE(std::isnan(cy));

    DiffractionPattern p;
    Fill(p, 64, 64, 30, 30);
    GuessCenterCore(p, 1);  // uniform: no second pass on a not-a-number centre
    EXPECT_TRUE(std::isnan(p.centerX));

    DiffractionPattern empty;
    empty.centerX = 1;
    empty.centerY = 1;
    GuessCenterCore(empty, 1);
    EXPECT_TRUE(std::isnan(empty.centerX));
}

TEST(GuessCenter, SecondPassIgnoresOutliersOutsideTheWindow) {
    DiffractionPattern p;
    Fill(p, 512, 512, 0, 0);
    for (int x = 240; x <= 261; ++x)
        for (int y = 240; y <= 261; ++y) p.image(x, y) = 100.0f;  // block centred on (250.5, 250.5)
    p.image(511, 250) = 1500.0f;                                  // outside the second-pass window
    p.image(511, 251) = 1500.0f;

    GuessCenterCore(p, 0);
    const float firstX = p.centerX;
    EXPECT_GT(firstX, 255.0f);
    EXPECT_NEAR(p.centerY, 250.5f, 1e-3);

    p.centerX = 0;
    p.centerY = 0;
    GuessCenterCore(p, 1);
    EXPECT_FLOAT_EQ(p.centerX, 250.5f);
    EXPECT_FLOAT_EQ(p.centerY, 250.5f);
}

TEST(GuessCenter, NoSecondPassWhenTheWindowTouchesTheEdge) {
    // A first-pass centre of (256, 256) gives r = 255 and 256 + 255 = 511,
    // not below W - 1: the first pass stands.
    DiffractionPattern p;
    Fill(p, 512, 512, 0, 0);
    for (int x = 246; x <= 266; ++x)
        for (int y = 246; y <= 266; ++y) p.image(x, y) = 100.0f;
    // Balanced about (256, 256); a second pass over rows 1 .. 511 would drop
    // the first and move the centre.
    p.image(0, 0) = 1000.0f;
    p.image(384, 384) = 2000.0f;
    GuessCenterCore(p, 1);
    EXPECT_FLOAT_EQ(p.centerX, 256.0f);
    EXPECT_FLOAT_EQ(p.centerY, 256.0f);
}

TEST(GuessCenter, FindsASyntheticPatternWithBeamStop) {
    RingSpec s;
    s.cx = 243.6;
    s.cy = 270.2;
    s.noise = 20.0;
    s.diffuse = 300.0;
    s.beamStop = 25.0;
    DiffractionPattern p;
    p.image = MakeRingPattern(s);
    p.centerX = 256;
    p.centerY = 256;
    GuessCenterCore(p, 1);
    EXPECT_NEAR(p.centerX, s.cx, 3.0);
    EXPECT_NEAR(p.centerY, s.cy, 3.0);
}

TEST(EllipseRadius, CircleAndAxes) {
    arma::Col<float> par{50.0f, 1.0f, 0.0f};
    float pos[5] = {0, 1, 2, 3, 4};
    float radii[4];
    EllipseRadius(par, radii, 4, pos);
    for (float r : radii) EXPECT_FLOAT_EQ(r, 50.0f);
    // q = 2, theta = 0: along theta the radius is 2 R s/(s+1) / sqrt(s^2) = 2R/(s+1).
    arma::Col<float> e{30.0f, 2.0f, 0.0f};
    float p2[3] = {-0.5f, 0.5f, 4.0f};  // angles 0 and pi/2
    float r2[2];
    EllipseRadius(e, r2, 2, p2);
    EXPECT_NEAR(r2[0], 40.0f, 1e-3);
    EXPECT_NEAR(r2[1], 20.0f, 1e-3);
    arma::Col<float> shortPar{1.0f};
    EXPECT_THROW(EllipseRadius(shortPar, r2, 2, p2), std::invalid_argument);
}

TEST(CenterOfMass, MissingPixelBorrowsTheMirroredPixel) {
    // Distinct values, so that the borrowed pixel shows in the result.
    arma::Mat<float> m(7, 5);
    for (arma::uword x = 0; x < 7; ++x)
        for (arma::uword y = 0; y < 5; ++y) m(x, y) = static_cast<float>(1 + x + 10 * y);
    double sx = 0, sy = 0, sw = 0;
    for (arma::uword x = 0; x < 7; ++x)
        for (arma::uword y = 0; y < 5; ++y)
            if (!(x == 5 && y == 1)) sx += x * m(x, y), sy += y * m(x, y), sw += m(x, y);
    m(5, 1) = 0.0f;
    // Mirrored through (2.3, 1.8): (-0.4, 2.6), nearest pixel (0, 3).
    float cx = 2.3f, cy = 1.8f;
    EXPECT_TRUE(CenterOfMassAboveThreshold(m, 0.5f, cx, cy));
    const double p = m(0, 3);
    EXPECT_FLOAT_EQ(cx, static_cast<float>((sx + 5 * p) / (sw + p)));
    EXPECT_FLOAT_EQ(cy, static_cast<float>((sy + 1 * p) / (sw + p)));

    // A partner beyond the matrix, or missing itself, adds nothing: the
    // pair drops out together. Mirrored through (6, 1.8): (7, 2.6).
    cx = 6.0f;
    cy = 1.8f;
    CenterOfMassAboveThreshold(m, 0.5f, cx, cy);
    EXPECT_FLOAT_EQ(cx, static_cast<float>(sx / sw));
    EXPECT_FLOAT_EQ(cy, static_cast<float>(sy / sw));
    // (0, 3) and (5, 1) are each other's partners through (2.3, 1.8).
    const double q = m(0, 3);
    m(0, 3) = 0.0f;
    cx = 2.3f;
    cy = 1.8f;
    CenterOfMassAboveThreshold(m, 0.5f, cx, cy);
    EXPECT_FLOAT_EQ(cx, static_cast<float>(sx / (sw - q)));
    EXPECT_FLOAT_EQ(cy, static_cast<float>((sy - 3 * q) / (sw - q)));

    // Without a missing pixel the reference does not matter.
    m(5, 1) = 1.0f;
    m(0, 3) = 1.0f;
    float ax = 2.3f, ay = 1.8f, bx = NAN, by = -1e30f;
    EXPECT_FALSE(CenterOfMassAboveThreshold(m, 0.5f, ax, ay));
    CenterOfMassAboveThreshold(m, 0.5f, bx, by);
    EXPECT_EQ(ax, bx);
    EXPECT_EQ(ay, by);
}

namespace {

// A ring pattern off the image middle, its centre between pixels.
RingSpec OffMiddle() {
    RingSpec s;
    s.cx = 221.4;
    s.cy = 287.7;
    s.radii = {90.0, 150.0, 185.0};
    s.background = 50.0;
    s.diffuse = 300.0;
    s.noise = 20.0;
    return s;
}

// The same guess from the image middle, from (0, 0) and from past the far
// corner.
void GuessFromThreeStarts(const arma::Mat<float>& image, float (&x)[3], float (&y)[3]) {
    const float starts[3][2] = {{256, 256}, {0, 0}, {600, 600}};
    for (int i = 0; i < 3; ++i) {
        DiffractionPattern p;
        p.image = image;
        p.centerX = starts[i][0];
        p.centerY = starts[i][1];
        GuessCenterCore(p, 1);
        x[i] = p.centerX;
        y[i] = p.centerY;
    }
}

}  // namespace

// A beam stop off the pattern's centre, with its arm to the image edge: the
// missing pixels borrow their mirror images, and the guess lands on the
// centre whatever the start. Mirrored through the start alone (one sum per
// pass), the guess is 0.45 pixel off.
TEST(GuessCenter, FindsTheCentreBehindAnOffCentreStopFromAnyStart) {
    const RingSpec s = OffMiddle();
    arma::Mat<float> image = MakeRingPattern(s);
    const double armC = std::cos(4.1), armS = std::sin(4.1);
    for (unsigned x = 0; x < s.width; ++x)
        for (unsigned y = 0; y < s.height; ++y) {
            const double dx = x - s.cx, dy = y - s.cy;
            const bool stop = std::hypot(dx - 6.0, dy + 5.0) <= 75.0;
            const bool arm = dx * armC + dy * armS > 0 && std::fabs(dy * armC - dx * armS) <= 8.0;
            if (stop || arm) image(x, y) = 0.0f;
        }
    float x[3], y[3];
    GuessFromThreeStarts(image, x, y);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(x[i], s.cx, 0.2);
        EXPECT_NEAR(y[i], s.cy, 0.2);
    }
}

// Without missing pixels the start does not matter, and the guess is the
// centre of mass over the image and then over the window around it, each
// summed once.
TEST(GuessCenter, WithoutMissingPixelsTheStartPlaysNoPart) {
    const arma::Mat<float> image = MakeRingPattern(OffMiddle());
    ASSERT_FALSE(arma::any(arma::vectorise(image) == 0.0f));
    const float t = arma::mean(arma::vectorise(image));
    float cx = 0, cy = 0;
    CenterOfMassAboveThreshold(image, t, cx, cy);
    DiffractionPattern first;
    first.image.set_size(512, 512);
    first.centerX = cx;
    first.centerY = cy;
    const float r = static_cast<float>(MaxRadius(first, 1));
    const arma::uword x0 = static_cast<arma::uword>(cx - r), y0 = static_cast<arma::uword>(cy - r);
    const arma::uword x1 = static_cast<arma::uword>(cx + r), y1 = static_cast<arma::uword>(cy + r);
    CenterOfMassAboveThreshold(image.submat(x0, y0, x1, y1), t, cx, cy);

    float x[3], y[3];
    GuessFromThreeStarts(image, x, y);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(x[i], cx + static_cast<float>(x0));
        EXPECT_EQ(y[i], cy + static_cast<float>(y0));
    }
}

// With missing pixels the square's sums start from the first result, moved
// into the square's frame: with the centre far from the image's origin (the
// square well inside the image) and a wedge of missing pixels, whose partners
// make each sum move only part of the way, a reference in the image's frame
// (150 px off in the square's) left the guess elsewhere after eight sums.
TEST(GuessCenter, SquaresSumsStartFromTheFirstResult) {
    RingSpec s = OffMiddle();
    s.cx = 330.4;
    s.cy = 327.8;
    arma::Mat<float> image = MakeRingPattern(s);
    for (unsigned x = 0; x < s.width; ++x)
        for (unsigned y = 0; y < s.height; ++y) {
            const double degrees = std::atan2(s.cy - y, x - s.cx) * 180 / M_PI;
            if (degrees > 10 && degrees < 80) image(x, y) = 0.0f;
        }
    DiffractionPattern first;
    first.image = image;
    first.centerX = 256;
    first.centerY = 256;
    GuessCenterCore(first, 0);
    const float r = static_cast<float>(MaxRadius(first, 1));
    const arma::uword x0 = static_cast<arma::uword>(first.centerX - r),
                      y0 = static_cast<arma::uword>(first.centerY - r);
    const arma::uword x1 = static_cast<arma::uword>(first.centerX + r),
                      y1 = static_cast<arma::uword>(first.centerY + r);
    ASSERT_GT(x0, 100u);
    const float t = arma::mean(arma::vectorise(image));
    float cx = first.centerX - static_cast<float>(x0), cy = first.centerY - static_cast<float>(y0);
    for (int round = 0; round < 8; ++round) {
        const float lastX = cx, lastY = cy;
        CenterOfMassAboveThreshold(image.submat(x0, y0, x1, y1), t, cx, cy);
        if (!(std::fabs(cx - lastX) > 0.01f || std::fabs(cy - lastY) > 0.01f)) break;
    }

    DiffractionPattern p;
    p.image = image;
    p.centerX = 256;
    p.centerY = 256;
    GuessCenterCore(p, 1);
    EXPECT_EQ(p.centerX, cx + static_cast<float>(x0));
    EXPECT_EQ(p.centerY, cy + static_cast<float>(y0));
}
