#include "command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

const char kUsage[] =
    "usage: make_sample_pattern [--out PREFIX] [--size N | --width W --height H]\n"
    "         [--seed S] [--ratio Q] [--angle DEG] [--no-noise] [--kirkland CSV]\n";

const char kOptionHelp[] =
    "  --out PREFIX    the files' common start (default: sample)\n"
    "  --size N        an N x N image, 64 to 16384 (default: 1024)\n"
    "  --width W       the image width alone, 64 to 16384\n"
    "  --height H      the image height alone, 64 to 16384\n"
    "  --seed S        the noise seed, 0 to 18446744073709551615 (default: 20240607)\n"
    "  --ratio Q       the rings' axis ratio, 0.5 to 2 (default: 1.04)\n"
    "  --angle DEG     the direction of the semi-axis Q stretches, in degrees from +x\n"
    "                  toward -y (default: 30)\n"
    "  --no-noise      leave out the Poisson noise\n"
    "  --kirkland CSV  the table of Kirkland parameters whose gold line makes the background\n"
    "                  and the element image (default: data/kirkland.csv beside this program,\n"
    "                  which the build copies there)\n"
    "  --help, -h      print this text\n";

namespace {

bool ParseNumber(const char* text, double* v) {
    char* end = nullptr;
    *v = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(*v);
}

std::string Side(const std::string& option, const char* text, int* side) {
    double v = 0;
    if (!ParseNumber(text, &v) || v != std::floor(v) || v < kMinSide || v > kMaxSide)
        return option + " takes a whole number from " + std::to_string(kMinSide) + " to " + std::to_string(kMaxSide) +
               ", not " + text;
    *side = static_cast<int>(v);
    return "";
}

std::string Seed(const char* text, uint64_t* seed) {
    const std::string t = text;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    // strtoull would take "-1" as the largest value and skip leading blanks.
    if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos || *end != '\0' || errno == ERANGE)
        return "--seed takes a whole number from 0 to 18446744073709551615, not " + t;
    *seed = v;
    return "";
}

std::string Ratio(const char* text, double* ratio) {
    double v = 0;
    if (!ParseNumber(text, &v) || v < kMinAxisRatio || v > kMaxAxisRatio)
        return std::string("--ratio takes a number from 0.5 to 2, not ") + text;
    *ratio = v;
    return "";
}

std::string Angle(const char* text, double* angle) {
    double v = 0;
    if (!ParseNumber(text, &v)) return std::string("--angle takes a finite number of degrees, not ") + text;
    *angle = v;
    return "";
}

bool TakesValue(const std::string& opt) {
    return opt == "--out" || opt == "--kirkland" || opt == "--size" || opt == "--width" || opt == "--height" ||
           opt == "--seed" || opt == "--ratio" || opt == "--angle";
}

// Applies one option and its value; the problem in words, or "".
std::string Apply(const std::string& opt, const char* v, Arguments* a) {
    if (opt == "--out") {
        a->out = v;
        return a->out.empty() ? "--out takes a non-empty prefix" : "";
    }
    if (opt == "--kirkland") {
        a->kirkland = v;
        return a->kirkland.empty() ? "--kirkland takes a file name" : "";
    }
    if (opt == "--size") {
        int side = 0;
        std::string e = Side(opt, v, &side);
        if (e.empty()) a->sample.width = a->sample.height = side;
        return e;
    }
    if (opt == "--width") return Side(opt, v, &a->sample.width);
    if (opt == "--height") return Side(opt, v, &a->sample.height);
    if (opt == "--seed") return Seed(v, &a->sample.seed);
    if (opt == "--ratio") return Ratio(v, &a->sample.axis_ratio);
    return Angle(v, &a->sample.angle_deg);
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine c;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            c.help = true;
            return c;
        }
        if (opt == "--no-noise") {
            c.args.sample.noise = false;
            continue;
        }
        if (!TakesValue(opt)) {
            c.error = (opt.size() > 1 && opt[0] == '-') ? "unknown option " + opt : "unexpected argument " + opt;
            return c;
        }
        if (i + 1 >= argc) {
            c.error = "missing value for " + opt;
            return c;
        }
        c.error = Apply(opt, argv[++i], &c.args);
        if (!c.error.empty()) return c;
    }
    return c;
}

std::string DefaultKirklandTable() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf - 1)) return "data/kirkland.csv";
    const std::string exe(buf, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/') + 1) + "data/kirkland.csv";
}
