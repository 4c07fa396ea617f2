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
// Exit status: 0 written (and --help), 1 the table cannot be read or a file
// cannot be written, 2 a usage error (said on standard error with the usage).
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_line.h"
#include "kirkland_csv.h"
#include "sample_pattern.h"
#include "tiff_float.h"
#include "truth_json.h"

namespace {

// Gold at 100 %: a1..a3 b1..b3 c1..c3 d1..d3, an unread value, the percentage.
std::vector<float> ElementLine(const KirklandCoefficients& k) {
    std::vector<float> line(14, 0.0f);
    for (int i = 0; i < 12; ++i) line[i] = static_cast<float>(k.c[i]);
    line[13] = 100.0f;
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv);
    if (line.help) {
        std::cout << "make_sample_pattern writes a synthetic gold diffraction pattern (PREFIX.tif), its truth\n"
                     "(PREFIX.truth.json) and the element image for gold (PREFIX.elements.tif).\n"
                  << kUsage << kOptionHelp;
        return 0;
    }
    if (!line.error.empty()) {
        std::cerr << "make_sample_pattern: " << line.error << "\n" << kUsage;
        return 2;
    }
    const Arguments& args = line.args;
    try {
        const auto start = std::chrono::steady_clock::now();
        const std::string table = args.kirkland.empty() ? DefaultKirklandTable() : args.kirkland;
        const KirklandCoefficients gold = ReadKirklandElement(table, "Au");
        const SamplePattern p = MakeSamplePattern(args.sample, gold);
        WriteFloatTiff(args.out + ".tif", p.width, p.height, p.pixels);
        WriteTruth(args.out + ".truth.json", p, args.sample);
        WriteFloatTiff(args.out + ".elements.tif", 14, 1, ElementLine(gold));
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::cout << "wrote " << args.out << ".tif (" << p.width << " x " << p.height << ", ";
        if (p.rings.empty())
            std::cout << "no rings: at this size they would overlap";
        else
            std::cout << p.rings.size() << (p.rings.size() == 1 ? " ring" : " rings");
        if (!p.rings.empty() && p.rings_left_out > 0)
            std::cout << "; " << p.rings_left_out << " more would overlap at this size";
        std::cout << ") in " << static_cast<long>(ms + 0.5) << " ms\n";
    } catch (const std::exception& e) {
        std::cerr << "make_sample_pattern: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
