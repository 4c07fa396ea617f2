// Saves refused by the system name the cause and keep the old file: a
// read-only mount, and a file size limit that the last, buffered part of a
// small image runs into.
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host_run.h"
#include "tests/file_replace/room_mount.h"

namespace {

namespace fs = std::filesystem;

const char kSmallImage[] =
    "image a := RealImage(\"a\", 4, 40, 40);\n"
    "for (number y = 0; y < 40; y = y + 1) for (number x = 0; x < 40; x = x + 1) SetPixel(a, x, y, x + y);\n";

TEST(RefusedSaves, AReadOnlyMountIsNamed) {
    if (const std::string missing = MissingPrograms(); !missing.empty()) GTEST_SKIP() << missing;
    ScratchMount scratch(ScratchKind::Tmpfs);
    if (!scratch.mounted()) GTEST_SKIP() << scratch.why();
    const std::string work = scratch.path() + "/work", script = scratch.path() + "/save.s";
    fs::create_directory(work);
    ASSERT_TRUE(WriteAll(script, std::string(kSmallImage) + "SaveImage(a, \"a.tif\");\n"
                                                            "saveimageasxls(a, \"a.xls\", \"x\", \"t\", \"S\");\n"));
    ASSERT_EQ(RunHost(script, work).status, 0);
    const std::string image = ReadAll(work + "/a.tif"), book = ReadAll(work + "/a.xls");
    ASSERT_EQ(::mount(nullptr, scratch.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const std::string scriptRo = "/tmp/save_runs_ro.s";  // the mount takes no new script now
    ASSERT_TRUE(WriteAll(scriptRo, std::string(kSmallImage) + "saveimageasxls(a, \"a.xls\", \"x\", \"t\", \"S\");\n"
                                                              "saveimageasxls(a, \"b.xls\", \"x\", \"t\", \"S\");\n"
                                                              "SaveImage(a, \"b.tif\");\n"));
    HostRun run = RunHost(scriptRo, work);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "exception caught: saveimageasxls: \"a.xls\" is on a read-only file system; it was left unchanged\n"
              "exception caught: saveimageasxls: could not write \"b.xls\": read-only file system\n");
    EXPECT_NE(run.err.find("cannot write image file \"b.tif\": read-only file system"), std::string::npos) << run.err;
    ASSERT_TRUE(WriteAll(scriptRo, std::string(kSmallImage) + "SaveImage(a, \"a.tif\");\n"));
    run = RunHost(scriptRo, work);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write image file \"a.tif\": read-only file system"), std::string::npos) << run.err;
    EXPECT_TRUE(ReadAll(work + "/a.tif") == image);
    EXPECT_TRUE(ReadAll(work + "/a.xls") == book);
    for (const char* suffix : {"", ".stdout", ".stderr"}) unlink((scriptRo + suffix).c_str());
}

// 40 × 40 floats fit one strip, which is written only when the image is
// finished: that write must fail the save too (`ulimit -f 4`).
TEST(RefusedSaves, AnImageBeyondTheFileSizeLimitIsRefusedAsAWhole) {
    if (const std::string missing = MissingPrograms(); !missing.empty()) GTEST_SKIP() << missing;
    char pattern[] = "/tmp/save_runs_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern, work = folder + "/work", script = folder + "/save.s";
    fs::create_directory(work);
    ASSERT_TRUE(WriteAll(work + "/a.tif", "an older image"));
    ASSERT_TRUE(WriteAll(script, std::string(kSmallImage) + "SaveImage(a, \"a.tif\");\nResult(\"saved\\n\");\n"));
    const HostRun run = RunHost(script, work, 0, 4096);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cannot write image file \"a.tif\": file too large"), std::string::npos) << run.err;
    EXPECT_EQ(ReadAll(work + "/a.tif"), "an older image");
    EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 1);
    fs::remove_all(folder);
}

}  // namespace
