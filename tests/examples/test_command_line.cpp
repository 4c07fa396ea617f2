// The generator's command line as a user meets it: every usage error is one
// clear line with the usage and status 2; a file it cannot write is its own
// message alone; its default table is found beside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tiffio.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

class GeneratorCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = ::testing::TempDir() + "generator_cli_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // Runs `program` with `args` (shell words) in the scratch folder.
    Outcome Generate(const std::string& args, const std::string& program = ORVAN_MAKE_SAMPLE_PATTERN) {
        const std::string cmd =
            "cd '" + dir_ + "' && '" + program + "' " + args + " >'" + dir_ + "/stdout' 2>'" + dir_ + "/stderr'";
        const int rc = std::system(cmd.c_str());
        Outcome r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.out = Slurp(dir_ + "/stdout");
        r.err = Slurp(dir_ + "/stderr");
        return r;
    }
    bool Exists(const std::string& name) const {
        struct stat st;
        return stat((dir_ + "/" + name).c_str(), &st) == 0;
    }

    std::string dir_;
};

TEST_F(GeneratorCommandLine, EveryUsageErrorSaysWhatAndExits2WithTheUsage) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--bogus 1", "unknown option --bogus"},
        {"--size 256 extra", "unexpected argument extra"},
        {"--size", "missing value for --size"},
        {"--size 10", "--size takes a whole number from 64 to 16384, not 10"},
        {"--width 16385", "--width takes a whole number from 64 to 16384, not 16385"},
        {"--height 100.5", "--height takes a whole number from 64 to 16384, not 100.5"},
        {"--ratio 2.5", "--ratio takes a number from 0.5 to 2, not 2.5"},
        {"--ratio nan", "--ratio takes a number from 0.5 to 2, not nan"},
        {"--seed -1", "--seed takes a whole number from 0 to 18446744073709551615, not -1"},
        {"--seed 18446744073709551616", "--seed takes a whole number from 0 to 18446744073709551615"},
        {"--angle inf", "--angle takes a finite number of degrees, not inf"},
        {"--out ''", "--out takes a non-empty prefix"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome r = Generate("--out made " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("make_sample_pattern: " + message, 0), 0u) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("\nusage: make_sample_pattern [--out PREFIX]"), std::string::npos) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_FALSE(Exists("made.tif")) << args;
    }
}

TEST_F(GeneratorCommandLine, TheWholeSeedRangeIsAccepted) {
    for (const char* seed : {"0", "18446744073709551615"}) {
        const Outcome r = Generate(std::string("--size 128 --out s --seed ") + seed);
        EXPECT_EQ(r.status, 0) << seed << ": " << r.err;
        EXPECT_NE(Slurp(dir_ + "/s.truth.json").find(std::string("\"seed\": ") + seed + ","), std::string::npos);
    }
}

// The documented range's ends are in it.
TEST_F(GeneratorCommandLine, TheWholeRatioRangeIsAccepted) {
    for (const char* ratio : {"0.5", "2"}) {
        const Outcome r = Generate(std::string("--size 64 --out r --ratio ") + ratio);
        EXPECT_EQ(r.status, 0) << ratio << ": " << r.err;
        EXPECT_NE(Slurp(dir_ + "/r.truth.json").find(std::string("\"axis_ratio\": ") + ratio + ","), std::string::npos);
    }
}

// A truth file that could not be written whole is a failure, not an empty
// file and status 0.
TEST_F(GeneratorCommandLine, ATruthFileOnAFullDiskFails) {
    struct stat full;
    if (stat("/dev/full", &full) != 0 || !S_ISCHR(full.st_mode)) GTEST_SKIP() << "no /dev/full here";
    ASSERT_EQ(symlink("/dev/full", (dir_ + "/s.truth.json").c_str()), 0);
    const Outcome r = Generate("--size 64 --out s");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "make_sample_pattern: write failed: s.truth.json\n");
}

TEST_F(GeneratorCommandLine, AFileThatCannotBeWrittenIsTheToolsOneLine) {
    const Outcome r = Generate("--size 64 --out no-such-folder/s");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "make_sample_pattern: cannot create no-such-folder/s.tif: No such file or directory\n");
    EXPECT_EQ(r.out, "");
}

// Rings closer than 2 sigma would merge into one; none that do are claimed.
TEST_F(GeneratorCommandLine, SmallPatternsClaimOnlyRingsThatStandApart) {
    Outcome r = Generate("--size 64 --out tiny");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(64 x 64, no rings: at this size they would overlap)"), std::string::npos) << r.out;
    EXPECT_NE(Slurp(dir_ + "/tiny.truth.json").find("\"rings\": [\n  ]"), std::string::npos);
    // The README's bound: none up to 114 pixels, three from 115.
    r = Generate("--size 114 --out tiny");
    EXPECT_NE(r.out.find("(114 x 114, no rings: "), std::string::npos) << r.out;
    r = Generate("--size 115 --out tiny");
    EXPECT_NE(r.out.find("(115 x 115, 3 rings; "), std::string::npos) << r.out;

    r = Generate("--size 256 --out small");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string truth = Slurp(dir_ + "/small.truth.json");
    const std::regex radius_re("\"d_angstrom\": [0-9.e+-]+, \"radius_px\": ([0-9.e+-]+)");
    std::vector<double> radii;
    for (auto it = std::sregex_iterator(truth.begin(), truth.end(), radius_re); it != std::sregex_iterator(); ++it)
        radii.push_back(std::stod((*it)[1]));
    std::smatch sigma;
    ASSERT_TRUE(std::regex_search(truth, sigma, std::regex("\"ring_sigma_px\": ([0-9.]+)")));
    ASSERT_GE(radii.size(), 3u);
    for (size_t i = 1; i < radii.size(); ++i) EXPECT_GE(radii[i] - radii[i - 1], 2 * std::stod(sigma[1])) << i;
    EXPECT_NE(r.out.find("(256 x 256, " + std::to_string(radii.size()) + " rings; "), std::string::npos) << r.out;
}

// A table of our own beside a copy of the program, with gold's a1 changed:
// the copy reads it, not the tree's table, wherever the tree is.
TEST_F(GeneratorCommandLine, TheDefaultTableIsTheOneBesideTheProgram) {
    ASSERT_EQ(std::system(
                  ("mkdir -p '" + dir_ + "/moved/data' && cp '" + ORVAN_MAKE_SAMPLE_PATTERN + "' '" + dir_ + "/moved/'")
                      .c_str()),
              0);
    const std::string program = dir_ + "/moved/make_sample_pattern";
    Outcome r = Generate("--size 64 --out s", program);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "make_sample_pattern: cannot read " + dir_ + "/moved/data/kirkland.csv: No such file or directory\n");

    std::ofstream(dir_ + "/moved/data/kirkland.csv")
        << "Z,symbol,a1,a2,a3,b1,b2,b3,c1,c2,c3,d1,d2,d3\n"
        << "79,Au,0.5,3.6958103,2.77567491,0.170932277,12.9335319,0.68999707,0.295414176,0.311475743,"
           "0.0143237267,0.16352551,1.39200901,0.0271265337\n";
    r = Generate("--size 64 --out s", program);
    ASSERT_EQ(r.status, 0) << r.err;
    TIFF* t = TIFFOpen((dir_ + "/s.elements.tif").c_str(), "r");
    ASSERT_NE(t, nullptr);
    std::vector<float> line(14);
    EXPECT_GE(TIFFReadScanline(t, line.data(), 0, 0), 0);
    TIFFClose(t);
    EXPECT_EQ(line[0], 0.5f);
    EXPECT_EQ(line[13], 100.0f);
}

}  // namespace
