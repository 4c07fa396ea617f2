#include "truth_json.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {
constexpr double kPi = 3.14159265358979323846;
}

std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

void WriteTruth(const std::string& path, const SamplePattern& p, const SampleOptions& o) {
    const double q = p.axis_ratio;
    const double deg = p.angle_rad * 180.0 / kPi;
    errno = 0;
    std::ofstream js(path);
    if (!js)
        throw std::runtime_error("cannot create " + path + (errno ? std::string(": ") + std::strerror(errno) : ""));
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
    js.close();
    if (!js) throw std::runtime_error("write failed: " + path);
}
