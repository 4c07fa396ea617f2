// Checks the generated sample pattern against its stated truth, reading the
// TIFF back with libtiff and measuring the rings directly in the pixels.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Image {
    uint32_t width = 0, height = 0;
    std::vector<float> px;
    float at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
    // Bilinear value at a point inside the image.
    double Sample(double x, double y) const {
        const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
        const double fx = x - x0, fy = y - y0;
        return (1 - fx) * (1 - fy) * at(x0, y0) + fx * (1 - fy) * at(x0 + 1, y0) + (1 - fx) * fy * at(x0, y0 + 1) +
               fx * fy * at(x0 + 1, y0 + 1);
    }
};

Image ReadTiff(const std::string& path) {
    Image im;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) {
        ADD_FAILURE() << "cannot open " << path;
        return im;
    }
    uint16_t bits = 0, format = 0, spp = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &im.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &im.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    EXPECT_EQ(bits, 32);
    EXPECT_EQ(format, SAMPLEFORMAT_IEEEFP);
    EXPECT_EQ(spp, 1);
    EXPECT_EQ(static_cast<size_t>(TIFFScanlineSize(t)), im.width * sizeof(float));
    im.px.resize(static_cast<size_t>(im.width) * im.height);
    for (uint32_t y = 0; y < im.height; ++y)
        EXPECT_GE(TIFFReadScanline(t, &im.px[static_cast<size_t>(y) * im.width], y, 0), 0);
    TIFFClose(t);
    return im;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Every number stored under "key" in a JSON text, in order.
std::vector<double> Numbers(const std::string& json, const std::string& key) {
    std::vector<double> out;
    const std::regex re("\"" + key + "\": (-?[0-9.eE+-]+)");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back(std::stod((*it)[1]));
    return out;
}

double Number(const std::string& json, const std::string& key) {
    const auto v = Numbers(json, key);
    EXPECT_FALSE(v.empty()) << key;
    return v.empty() ? NAN : v[0];
}

class SamplePattern : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = ::testing::TempDir() + "sample_pattern_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // Runs the generator; returns its exit status.
    int Generate(const std::string& name, const std::string& options) {
        const std::string cmd = std::string("'") + ORVAN_MAKE_SAMPLE_PATTERN + "' --out '" + dir_ + "/" + name + "' " +
                                options + " >/dev/null 2>&1";
        const int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
};

constexpr double kPi = 3.14159265358979323846;

// Ring radius along direction phi (atan2(-dy, dx)) for a ring of mean radius
// R, axis ratio q and ellipse angle theta.
double EllipseRadius(double R, double q, double theta, double phi) {
    const double s = 1.0 / q;
    const double c = std::cos(phi - theta);
    return 2 * R * s / (s + 1) / std::sqrt(1 - (1 - s * s) * c * c);
}

// Offset of a ring from its expected position along directions around phi:
// a fan of rays, each sampled at its own expected radius + u and averaged;
// the largest value within |u| <= half, refined by a least-squares parabola
// over |u| <= fit.
double RingOffset(const Image& im, double cx, double cy, double R, double q, double theta, double phi, double fan,
                  double half, double fit) {
    const int n_rays = 21, n_u = 201;
    const double step = 2 * half / (n_u - 1);
    std::vector<double> prof(n_u, 0.0);
    for (int k = 0; k < n_rays; ++k) {
        const double a = phi + fan * (2.0 * k / (n_rays - 1) - 1);
        const double r0 = EllipseRadius(R, q, theta, a);
        for (int i = 0; i < n_u; ++i) {
            const double r = r0 - half + i * step;
            prof[i] += im.Sample(cx + r * std::cos(a), cy - r * std::sin(a)) / n_rays;
        }
    }
    int best = 0;
    for (int i = 1; i < n_u; ++i)
        if (prof[i] > prof[best]) best = i;
    // Parabola y = c0 + c1 t + c2 t^2 around the maximum, t in pixels.
    double s[5] = {0, 0, 0, 0, 0}, b[3] = {0, 0, 0};
    const int w = static_cast<int>(fit / step);
    for (int i = std::max(0, best - w); i <= std::min(n_u - 1, best + w); ++i) {
        const double t = (i - best) * step;
        double p = 1;
        for (int e = 0; e < 5; ++e, p *= t) s[e] += p;
        b[0] += prof[i];
        b[1] += prof[i] * t;
        b[2] += prof[i] * t * t;
    }
    // Solve the 3 x 3 normal equations by Cramer's rule.
    const double m[3][3] = {{s[0], s[1], s[2]}, {s[1], s[2], s[3]}, {s[2], s[3], s[4]}};
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    double m1[3][3], m2[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            m1[r][c] = c == 1 ? b[r] : m[r][c];
            m2[r][c] = c == 2 ? b[r] : m[r][c];
        }
    const double d = det(m), c1 = det(m1) / d, c2 = det(m2) / d;
    const double vertex = c2 < 0 ? -c1 / (2 * c2) : 0.0;
    return -half + best * step + vertex;
}

// Checks the first `count` rings along directions all around the centre.
void CheckRings(const Image& im, const std::string& truth, size_t count, double tolerance) {
    const double cx = Number(truth, "center_x"), cy = Number(truth, "center_y");
    const double q = Number(truth, "axis_ratio"), theta = Number(truth, "angle_rad");
    const double arm = Number(truth, "arm_angle_deg");
    const double sigma = Number(truth, "ring_sigma_px");
    const std::vector<double> radii = Numbers(truth, "radius_px");
    ASSERT_GE(radii.size(), count + 1);  // the stop's radius and the rings
    for (double deg : {0.0, 30.0, 45.0, 90.0, 120.0, 135.0, 180.0, 210.0, 270.0, 300.0, 315.0}) {
        if (std::fabs(deg - arm) < 20) continue;  // the beam stop's arm
        for (size_t ring = 1; ring <= count; ++ring) {
            const double offset =
                RingOffset(im, cx, cy, radii[ring], q, theta, deg * kPi / 180, 4 * kPi / 180, 2 * sigma, 0.6 * sigma);
            EXPECT_NEAR(offset, 0.0, tolerance) << "ring " << ring << " at " << deg << " deg";
        }
    }
}

}  // namespace

TEST_F(SamplePattern, NoiselessRingsSitOnTheStatedEllipse) {
    ASSERT_EQ(Generate("clean", "--no-noise"), 0);
    const Image im = ReadTiff(Path("clean.tif"));
    ASSERT_EQ(im.width, 1024u);
    ASSERT_EQ(im.height, 1024u);
    const std::string truth = Slurp(Path("clean.truth.json"));
    EXPECT_EQ(Number(truth, "axis_ratio"), 1.04);
    // A weak ring on the falling background peaks up to about 0.11 pixel
    // inside its centre radius, hence 0.15.
    CheckRings(im, truth, 8, 0.15);

    // The measured long and short semi-axes of the 111 ring differ by the ratio.
    const double cx = Number(truth, "center_x"), cy = Number(truth, "center_y");
    const double theta = Number(truth, "angle_rad"), R = Numbers(truth, "radius_px")[1];
    const double along = 2 * R * 1.04 / 2.04, across = 2 * R / 2.04;
    EXPECT_NEAR(RingOffset(im, cx, cy, along, 1.0, 0, theta, 0.5 * kPi / 180, 3.2, 1.0), 0.0, 0.1);
    EXPECT_NEAR(RingOffset(im, cx, cy, across, 1.0, 0, theta + kPi / 2, 0.5 * kPi / 180, 3.2, 1.0), 0.0, 0.1);
}

TEST_F(SamplePattern, NoisyRingsBeamStopAndCentre) {
    ASSERT_EQ(Generate("noisy", ""), 0);
    const Image im = ReadTiff(Path("noisy.tif"));
    ASSERT_EQ(im.width, 1024u);
    ASSERT_EQ(im.height, 1024u);
    const std::string truth = Slurp(Path("noisy.truth.json"));
    CheckRings(im, truth, 8, 0.5);

    // Centre off the pixel grid and off the image middle.
    const double cx = Number(truth, "center_x"), cy = Number(truth, "center_y");
    EXPECT_GT(std::fabs(cx - std::round(cx)), 0.1);
    EXPECT_GT(std::fabs(cy - std::round(cy)), 0.1);
    EXPECT_GT(std::hypot(cx - 511.5, cy - 511.5), 5.0);

    // Exactly the beam stop (disc and arm) is zero; every other pixel counts.
    const double rb = Number(truth, "radius_px");
    const double arm = Number(truth, "arm_angle_deg") * kPi / 180;
    const double hw = Number(truth, "arm_half_width_px");
    size_t zeros = 0;
    for (int y = 0; y < static_cast<int>(im.height); ++y) {
        for (int x = 0; x < static_cast<int>(im.width); ++x) {
            const double dx = x - cx, dy = y - cy;
            const double along = dx * std::cos(arm) - dy * std::sin(arm);
            const double across = std::fabs(dx * std::sin(arm) + dy * std::cos(arm));
            const double to_disc = std::hypot(dx, dy) - rb;
            const double to_arm = along > 0 ? across - hw : INFINITY;
            const double inside = std::min(to_disc, to_arm);  // < 0 under the stop
            const float v = im.at(x, y);
            ASSERT_TRUE(std::isfinite(v));
            if (inside < -0.01) {
                ASSERT_EQ(v, 0.0f) << x << "," << y;
            } else if (inside > 0.01) {
                ASSERT_GT(v, 0.0f) << x << "," << y;
            }
            zeros += (v == 0.0f);
        }
    }
    EXPECT_GT(zeros, 3000u);
    // The arm reaches the image edge.
    const int ex = static_cast<int>(std::lround(cx + 480 * std::cos(arm)));
    const int ey = static_cast<int>(std::lround(cy - 480 * std::sin(arm)));
    ASSERT_TRUE(ex >= 0 && ey >= 0 && ex < 1024 && ey < 1024);
    EXPECT_EQ(im.at(ex, ey), 0.0f);
}

TEST_F(SamplePattern, SizeSeedAndElementTableFollowTheOptions) {
    ASSERT_EQ(Generate("wide", "--width 300 --height 200 --seed 7"), 0);
    const Image wide = ReadTiff(Path("wide.tif"));
    EXPECT_EQ(wide.width, 300u);
    EXPECT_EQ(wide.height, 200u);
    const std::string truth = Slurp(Path("wide.truth.json"));
    EXPECT_EQ(Number(truth, "width"), 300);
    EXPECT_EQ(Number(truth, "height"), 200);
    // Small images crowd the rings; the 111 ring stands alone.
    CheckRings(wide, truth, 1, 0.5);

    ASSERT_EQ(Generate("small", "--size 256 --seed 7"), 0);
    ASSERT_EQ(Generate("again", "--size 256 --seed 7"), 0);
    ASSERT_EQ(Generate("other", "--size 256 --seed 8"), 0);
    const Image a = ReadTiff(Path("small.tif")), b = ReadTiff(Path("again.tif")), c = ReadTiff(Path("other.tif"));
    EXPECT_EQ(a.width, 256u);
    EXPECT_EQ(a.height, 256u);
    EXPECT_TRUE(a.px == b.px);
    EXPECT_FALSE(a.px == c.px);

    // Gold at 100 %: 12 coefficients, an unread value, the percentage.
    const Image el = ReadTiff(Path("small.elements.tif"));
    ASSERT_EQ(el.width, 14u);
    ASSERT_EQ(el.height, 1u);
    EXPECT_FLOAT_EQ(el.px[0], 0.961263398f);
    EXPECT_FLOAT_EQ(el.px[11], 0.0271265337f);
    EXPECT_EQ(el.px[13], 100.0f);

    EXPECT_NE(Generate("bad", "--size 10"), 0);
    EXPECT_NE(Generate("bad", "--ratio nan"), 0);
    EXPECT_NE(Generate("bad", "--frobnicate 1"), 0);
}
