// Writes a synthetic polycrystalline gold diffraction pattern as a 32-bit
// float TIFF, the known truth beside it as JSON, and a one-line element image
// (gold at 100 %) for the RDF functions.
//
//   make_sample_pattern [--out PREFIX] [--size N | --width W --height H]
//                       [--seed S] [--ratio Q] [--angle DEG] [--no-noise]
//                       [--kirkland CSV]
//   make_sample_pattern --help
//
// Files: PREFIX.tif, PREFIX.truth.json, PREFIX.elements.tif.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "kirkland_csv.h"
#include "sample_pattern.h"
#include "tiff_float.h"

#ifndef ORVAN_KIRKLAND_CSV
#define ORVAN_KIRKLAND_CSV "examples/data/kirkland.csv"
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Arguments {
    SampleOptions sample;
    std::string out = "sample";
    std::string kirkland = ORVAN_KIRKLAND_CSV;
};

const char kUsage[] =
    "usage: make_sample_pattern [--out PREFIX] [--size N | --width W --height H]\n"
    "         [--seed S] [--ratio Q] [--angle DEG] [--no-noise] [--kirkland CSV]\n";

[[noreturn]] void Usage(const std::string& problem) {
    std::cerr << "make_sample_pattern: " << problem << "\n" << kUsage;
    std::exit(2);
}

[[noreturn]] void Help() {
    std::cout << "make_sample_pattern writes a synthetic gold diffraction pattern (PREFIX.tif), its truth\n"
                 "(PREFIX.truth.json) and the element image for gold (PREFIX.elements.tif).\n"
              << kUsage
              << "  --out PREFIX    the files' common start (default: sample)\n"
                 "  --size N        an N x N image, 64 to 16384 (default: 1024)\n"
                 "  --width W       the image width alone, 64 to 16384\n"
                 "  --height H      the image height alone, 64 to 16384\n"
                 "  --seed S        the noise seed (default: 20240607)\n"
                 "  --ratio Q       the rings' axis ratio, 0.5 to 2 (default: 1.04)\n"
                 "  --angle DEG     the direction of the semi-axis Q stretches, in degrees from +x\n"
                 "                  toward -y (default: 30)\n"
                 "  --no-noise      leave out the Poisson noise\n"
                 "  --kirkland CSV  the table of Kirkland parameters whose gold line makes the background\n"
                 "                  and the element image (default: "
              << ORVAN_KIRKLAND_CSV
              << ")\n"
                 "  --help, -h      print this text\n";
    std::exit(0);
}

double Number(const std::string& option, const char* text) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v)) Usage("bad number for " + option);
    return v;
}

int Whole(const std::string& option, const char* text) {
    const double v = Number(option, text);
    if (v != std::floor(v) || v < 1 || v > 1e9) Usage("bad whole number for " + option);
    return static_cast<int>(v);
}

Arguments Parse(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") Help();
        if (opt == "--no-noise") {
            a.sample.noise = false;
            continue;
        }
        if (i + 1 >= argc) Usage("missing value for " + opt);
        const char* v = argv[++i];
        if (opt == "--out")
            a.out = v;
        else if (opt == "--kirkland")
            a.kirkland = v;
        else if (opt == "--size")
            a.sample.width = a.sample.height = Whole(opt, v);
        else if (opt == "--width")
            a.sample.width = Whole(opt, v);
        else if (opt == "--height")
            a.sample.height = Whole(opt, v);
        else if (opt == "--seed")
            a.sample.seed = static_cast<uint64_t>(Whole(opt, v));
        else if (opt == "--ratio")
            a.sample.axis_ratio = Number(opt, v);
        else if (opt == "--angle")
            a.sample.angle_deg = Number(opt, v);
        else
            Usage("unknown option " + opt);
    }
    return a;
}

std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

void WriteTruth(const std::string& path, const SamplePattern& p, const SampleOptions& o) {
    const double q = p.axis_ratio;
    const double deg = p.angle_rad * 180.0 / kPi;
    std::ofstream js(path);
    if (!js) throw std::runtime_error("cannot create " + path);
    js << "{\n"
       << "  \"width\": " << p.width << ",\n"
       << "  \"height\": " << p.height << ",\n"
       << "  \"seed\": " << o.seed << ",\n"
       << "  \"noise\": \"" << (o.noise ? "poisson" : "none") << "\",\n"
       << "  \"pixel_convention\": \"pixel (x, y) at the integer point (x, y); TIFF columns are x, rows are y\",\n"
       << "  \"center_x\": " << Num(p.center_x) << ",\n"
       << "  \"center_y\": " << Num(p.center_y) << ",\n"
       << "  \"axis_ratio\": " << Num(q) << ",\n"
       << "  \"angle_rad\": " << Num(p.angle_rad) << ",\n"
       << "  \"angle_deg\": " << Num(deg) << ",\n"
       << "  \"ellipse_convention\": \"angles as atan2(-dy, dx); a ring of radius R (the mean of its semi-axes) "
          "has the semi-axis 2Rq/(q+1) along angle_deg and 2R/(q+1) across it; the same ellipse is axis ratio "
          "1/q at angle_deg + 90\",\n"
       << "  \"material\": \"Au, fcc\",\n"
       << "  \"lattice_angstrom\": " << Num(p.lattice) << ",\n"
       << "  \"pixels_per_inv_angstrom\": " << Num(p.pixels_per_inv_angstrom) << ",\n"
       << "  \"q_step_inv_nm\": " << Num(10.0 / p.pixels_per_inv_angstrom) << ",\n"
       << "  \"ring_sigma_px\": " << Num(p.ring_sigma) << ",\n"
       << "  \"background\": {\"model\": \"scale * f_Au(s)^2 + offset, s = R / pixels_per_inv_angstrom\", "
       << "\"scale\": " << Num(p.background_scale) << ", \"offset\": " << Num(p.background_offset) << "},\n"
       << "  \"beam_stop\": {\"value\": 0, \"radius_px\": " << Num(p.stop_radius)
       << ", \"arm_angle_deg\": " << Num(p.arm_angle_rad * 180.0 / kPi)
       << ", \"arm_half_width_px\": " << Num(p.arm_half_width) << "},\n"
       << "  \"rings\": [\n";
    for (size_t i = 0; i < p.rings.size(); ++i) {
        const SampleRing& r = p.rings[i];
        js << "    {\"hkl\": \"" << r.hkl << "\", \"h2k2l2\": " << r.n << ", \"multiplicity\": " << r.multiplicity
           << ", \"d_angstrom\": " << Num(r.d) << ", \"radius_px\": " << Num(r.radius)
           << ", \"semi_axis_along_angle_px\": " << Num(2 * r.radius * q / (q + 1))
           << ", \"semi_axis_across_px\": " << Num(2 * r.radius / (q + 1)) << ", \"peak_counts\": " << Num(r.peak)
           << "}" << (i + 1 < p.rings.size() ? "," : "") << "\n";
    }
    js << "  ]\n}\n";
    if (!js) throw std::runtime_error("write failed: " + path);
}

// Gold at 100 %: a1..a3 b1..b3 c1..c3 d1..d3, an unread value, the percentage.
std::vector<float> ElementLine(const KirklandCoefficients& k) {
    std::vector<float> line(14, 0.0f);
    for (int i = 0; i < 12; ++i) line[i] = static_cast<float>(k.c[i]);
    line[13] = 100.0f;
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    const Arguments args = Parse(argc, argv);
    try {
        const auto start = std::chrono::steady_clock::now();
        const KirklandCoefficients gold = ReadKirklandElement(args.kirkland, "Au");
        const SamplePattern p = MakeSamplePattern(args.sample, gold);
        WriteFloatTiff(args.out + ".tif", p.width, p.height, p.pixels);
        WriteTruth(args.out + ".truth.json", p, args.sample);
        WriteFloatTiff(args.out + ".elements.tif", 14, 1, ElementLine(gold));
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::cout << "wrote " << args.out << ".tif (" << p.width << " x " << p.height << ", " << p.rings.size()
                  << " rings) in " << Num(ms) << " ms\n";
    } catch (const std::exception& e) {
        std::cerr << "make_sample_pattern: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
