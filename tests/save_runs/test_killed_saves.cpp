// orvanhost killed at each step of a save in turn, on each file system the
// room tests mount: what is left under the name is the old file whole or
// the new one whole (a new name: nothing or the new file), except during a
// copy in place, which leaves the new file's start and the old file's end
// with the whole new file beside it. Anything else left is a temporary
// named NAME.XXXXXX.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "host_run.h"
#include "tests/file_replace/room_mount.h"

namespace {

namespace fs = std::filesystem;

// A script that saves a width × height image whose pixels depend on seed.
std::string SaveScript(const std::string& call, int width, int height, int seed) {
    return "image a := RealImage(\"a\", 4, " + std::to_string(width) + ", " + std::to_string(height) +
           ");\n"
           "for (number y = 0; y < " +
           std::to_string(height) + "; y = y + 1) for (number x = 0; x < " + std::to_string(width) +
           "; x = x + 1) SetPixel(a, x, y, x * 7 + y * 13 + " + std::to_string(seed) + ");\n" + call +
           "\nResult(\"done\\n\");\n";
}

struct Left {
    std::string target;                    // "(none)" when nothing has the name
    std::vector<std::string> temporaries;  // their contents
    std::vector<std::string> others;       // names that are neither
    bool copyBegun = false;                // a temporary is there, and the target was modified no earlier
};

bool NotEarlier(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                                : a.st_mtim.tv_nsec >= b.st_mtim.tv_nsec;
}

Left Look(const std::string& folder, const std::string& name) {
    Left left;
    left.target = fs::exists(folder + "/" + name) ? ReadAll(folder + "/" + name) : "(none)";
    const std::regex temporary(std::regex_replace(name, std::regex("\\."), "\\.") + "\\.[A-Za-z0-9]{6}");
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string entryName = entry.path().filename().string();
        if (entryName == name || entryName == "link") continue;
        if (std::regex_match(entryName, temporary)) {
            left.temporaries.push_back(ReadAll(entry.path().string()));
            struct stat file, kept;
            left.copyBegun = stat((folder + "/" + name).c_str(), &file) == 0 &&
                             stat(entry.path().c_str(), &kept) == 0 && NotEarlier(file, kept);
        } else
            left.others.push_back(entryName);
    }
    return left;
}

// The new file's start and the old file's end: the bytes up to some point
// are the new file's, the rest (if the old file went on) the old one's.
bool NewStartOldEnd(const std::string& got, const std::string& old, const std::string& now) {
    std::size_t k = 0;
    while (k < got.size() && k < now.size() && got[k] == now[k]) ++k;
    return got.substr(k) == (k < old.size() ? old.substr(k) : "");
}

enum class Before { Nothing, OldFile, OldFileWithSecondLink };

struct Scenario {
    const char* what;
    const char* name;
    std::string call;
    Before before;
    int width, oldHeight, newHeight;
};

struct Counts {
    int kills = 0, withTemporary = 0, mixed = 0;
};

class KilledSaves : public ::testing::TestWithParam<ScratchKind> {
protected:
    // An empty work folder, holding the old file where the scenario has one.
    void Prepare(const Scenario& s, const std::string& old) {
        fs::remove_all(work);
        fs::create_directory(work);
        const std::string target = work + "/" + s.name;
        if (s.before != Before::Nothing) {
            ASSERT_TRUE(WriteAll(target, old));
        }
        if (s.before == Before::OldFileWithSecondLink) {
            ASSERT_EQ(link(target.c_str(), (work + "/link").c_str()), 0);
        }
    }

    // What a run killed at `step` left, against the old and the new file.
    void Check(const Scenario& s, long step, const std::string& old, const std::string& now, Counts& counts) {
        ++counts.kills;
        const Left left = Look(work, s.name);
        const std::string at =
            std::string(s.what) + " on " + KindName(GetParam()) + ", killed at step " + std::to_string(step);
        EXPECT_EQ(left.others, std::vector<std::string>()) << at;
        EXPECT_LE(left.temporaries.size(), 1u) << at;
        if (!left.temporaries.empty()) ++counts.withTemporary;
        if (s.before == Before::OldFileWithSecondLink) {
            struct stat a, b;
            ASSERT_EQ(stat((work + "/" + s.name).c_str(), &a), 0) << at;
            ASSERT_EQ(stat((work + "/link").c_str(), &b), 0) << at;
            EXPECT_EQ(a.st_ino, b.st_ino) << at << ": the links were parted";
            // The tell the README gives for a whole temporary.
            if (left.copyBegun) {
                EXPECT_TRUE(left.temporaries[0] == now) << at << ": taken for whole";
            }
        }
        if (left.target == now || left.target == (s.before == Before::Nothing ? "(none)" : old)) return;
        // Only a copy in place is not all or nothing; the whole new file is
        // beside it then.
        ++counts.mixed;
        EXPECT_EQ(s.before, Before::OldFileWithSecondLink) << at << ": neither the old file nor the new one";
        EXPECT_TRUE(NewStartOldEnd(left.target, old, now)) << at;
        ASSERT_EQ(left.temporaries.size(), 1u) << at;
        EXPECT_TRUE(left.temporaries[0] == now) << at << ": the new file beside it is not whole";
        EXPECT_TRUE(left.copyBegun) << at << ": the file seems older than the whole new one";
    }

    std::string work, script;
};

TEST_P(KilledSaves, LeaveTheOldFileOrTheNewOneWhole) {
    if (const std::string missing = MissingPrograms(); !missing.empty()) GTEST_SKIP() << missing;
    ScratchMount mount(GetParam());
    if (!mount.mounted()) GTEST_SKIP() << KindName(GetParam()) << ": " << mount.why();
    work = mount.path() + "/work";
    script = mount.path() + "/save.s";
    const std::string tif = "SaveImage(a, \"a.tif\");";
    const std::string xls = "saveimageasxls(a, \"a.xls\", \"x\", \"t\", \"S\");";
    // Several strips, and several blocks of a copy in place.
    const Scenario scenarios[] = {
        {"a new image", "a.tif", tif, Before::Nothing, 256, 160, 160},
        {"a new workbook", "a.xls", xls, Before::Nothing, 40, 30, 30},
        {"an image replaced", "a.tif", tif, Before::OldFile, 256, 160, 160},
        {"an image copied in place", "a.tif", tif, Before::OldFileWithSecondLink, 256, 160, 160},
        {"a larger image copied in place", "a.tif", tif, Before::OldFileWithSecondLink, 256, 100, 160},
        {"a smaller image copied in place", "a.tif", tif, Before::OldFileWithSecondLink, 256, 160, 100},
    };
    for (const Scenario& s : scenarios) {
        // The old and the new file, each written whole by an unkilled run.
        std::string old, now;
        for (int seed : {1, 2}) {
            Prepare({s.what, s.name, s.call, Before::Nothing, 0, 0, 0}, "");
            ASSERT_TRUE(WriteAll(script, SaveScript(s.call, s.width, seed == 1 ? s.oldHeight : s.newHeight, seed)));
            const HostRun run = RunHost(script, work);
            ASSERT_EQ(run.status, 0) << run.err;
            (seed == 1 ? old : now) = ReadAll(work + "/" + s.name);
        }
        ASSERT_NE(old, now);
        Counts counts;
        for (long step = 1;; ++step) {
            ASSERT_LT(step, 1000) << s.what << ": never ran to its end";
            Prepare(s, old);
            const HostRun run = RunHost(script, work, step);
            if (!run.killed) {
                ASSERT_EQ(run.status, 0) << run.err;
                EXPECT_EQ(ReadAll(work + "/" + s.name), now);
                break;
            }
            Check(s, step, old, now, counts);
        }
        EXPECT_GT(counts.kills, 3) << s.what;
        if (s.before == Before::OldFileWithSecondLink) {
            EXPECT_GT(counts.mixed, 0) << s.what << ": no kill fell in the copy";
        }
        std::printf("%s on %s: %d kills, %d left a temporary, %d a copy in place cut short\n", s.what,
                    KindName(GetParam()), counts.kills, counts.withTemporary, counts.mixed);
    }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, KilledSaves,
                         ::testing::Values(ScratchKind::Tmpfs, ScratchKind::Ext4, ScratchKind::Ext2, ScratchKind::Xfs,
                                           ScratchKind::Btrfs, ScratchKind::OverlayExt4, ScratchKind::OverlayBtrfs),
                         [](const ::testing::TestParamInfo<ScratchKind>& info) {
                             std::string name = KindName(info.param);
                             for (char& c : name)
                                 if (c == ' ') c = '_';
                             return name;
                         });

}  // namespace
