// Saves that meet: two exports of one new workbook at once in a folder its
// owner may write but not read, saves beside another program's locks on
// the folder and on the file, and a save that must wait saying for whom.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "host_run.h"
#include "workbook/xls_document.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLimit = 60;  // seconds before a run that hangs is stopped

const char kImage[] =
    "image a := RealImage(\"a\", 4, 60, 60);\n"
    "for (number y = 0; y < 60; y = y + 1) for (number x = 0; x < 60; x = x + 1) SetPixel(a, x, y, x + y);\n";

std::string Export(const std::string& file, const std::string& sheet) {
    return "saveimageasxls(a, \"" + file + "\", \"x\", \"t\", \"" + sheet + "\");\n";
}

class SavesAtOnce : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string missing = MissingPrograms(); !missing.empty()) GTEST_SKIP() << missing;
        char pattern[] = "/tmp/save_runs_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch = pattern;
        work = scratch + "/work";
        fs::create_directory(work);
        ASSERT_EQ(chmod(scratch.c_str(), 0755), 0);
    }
    void TearDown() override {
        if (!scratch.empty()) fs::remove_all(scratch);
    }
    std::string Script(const std::string& name, const std::string& calls) {
        const std::string path = scratch + "/" + name;
        EXPECT_TRUE(WriteAll(path, kImage + calls));
        return path;
    }
    static bool HasSheet(const std::string& file, const char* sheet) {
        CompoundFiles::XlsDocument book;
        return book.Load(file.c_str()) && book.GetSheet(sheet) != nullptr;
    }
    std::string scratch, work;
};

// A process that holds `lock` on `path` until it is killed; its id.
pid_t Holder(const std::string& path, const std::function<bool(int fd)>& lock) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(path.c_str(), O_RDONLY);
        const char said = fd >= 0 && lock(fd) ? 'y' : 'n';
        if (write(ready[1], &said, 1) != 1 || said != 'y') _exit(1);
        pause();
        _exit(0);
    }
    char said = 0;
    const bool held = child > 0 && read(ready[0], &said, 1) == 1 && said == 'y';
    close(ready[0]);
    close(ready[1]);
    return held ? child : -1;
}

void Let(pid_t holder) {
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
}

// Waits until the run's Results hold `text`, or the run has ended.
bool Shown(pid_t run, const std::string& script, const std::string& text) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kLimit);
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        if (ReadAll(script + ".stdout").find(text) != std::string::npos) return true;
        if (waitpid(run, nullptr, WNOHANG) != 0) return false;
    }
    return false;
}

// Its owner may write the folder but not open it, so it cannot be locked:
// two exports of one new workbook must still keep both sheets, and two
// saves of one new image both succeed.
TEST_F(SavesAtOnce, TwoExportsOfANewWorkbookInAFolderThatCannotBeReadKeepBothSheets) {
    if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
    const std::string probe = Script("probe.s", "");
    if (WaitHost(StartHost(probe, scratch, 0, 0, 65534), probe, kLimit).status != 0)
        GTEST_SKIP() << "the user nobody cannot run this build's orvanhost (a folder on its path is closed to others)";
    ASSERT_EQ(chown(work.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(work.c_str(), 0300), 0);
    // Two images of one new name at once: the second replaces the first.
    const std::string one = Script("one.s", Export("a.xls", "One") + "SaveImage(a, \"a.tif\");\n");
    const std::string two = Script("two.s", Export("a.xls", "Two") + "SaveImage(a, \"a.tif\");\n");
    for (int round = 0; round < 10; ++round) {
        fs::remove(work + "/a.xls");
        fs::remove(work + "/a.tif");
        const pid_t first = StartHost(one, work, 0, 0, 65534), second = StartHost(two, work, 0, 0, 65534);
        const HostRun a = WaitHost(first, one, kLimit), b = WaitHost(second, two, kLimit);
        ASSERT_EQ(a.status, 0) << a.out << a.err;
        ASSERT_EQ(b.status, 0) << b.out << b.err;
        EXPECT_TRUE(HasSheet(work + "/a.xls", "One")) << "round " << round;
        EXPECT_TRUE(HasSheet(work + "/a.xls", "Two")) << "round " << round;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 2);
}

// `flock -s DIR` and a reader's `flock -s FILE` hold nothing a save needs.
TEST_F(SavesAtOnce, OtherProgramsFlocksStopNoSave) {
    ASSERT_TRUE(WriteAll(work + "/old.tif", "an older image"));
    const pid_t folder = Holder(work, [](int fd) { return flock(fd, LOCK_SH) == 0; });
    const pid_t file = Holder(work + "/old.tif", [](int fd) { return flock(fd, LOCK_SH) == 0; });
    ASSERT_GT(folder, 0);
    ASSERT_GT(file, 0);
    const std::string script =
        Script("save.s", "SaveImage(a, \"new.tif\");\n" + Export("new.xls", "S") + "SaveImage(a, \"old.tif\");\n");
    const HostRun run = WaitHost(StartHost(script, work), script, kLimit);
    Let(folder);
    Let(file);
    EXPECT_FALSE(run.timedOut) << "still waiting after " << kLimit << " s";
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(HasSheet(work + "/new.xls", "S"));
    EXPECT_EQ(ReadAll(work + "/new.tif"), ReadAll(work + "/old.tif"));
}

// A lock on the whole file, as an editor may take, is waited for, and the
// Results say once whose it is.
TEST_F(SavesAtOnce, ASaveThatWaitsSaysForWhom) {
    const std::string first = Script("first.s", "SaveImage(a, \"b.tif\");\n" + Export("b.xls", "S"));
    ASSERT_EQ(RunHost(first, work).status, 0);
    auto whole = [](int fd) {
        struct flock all {};
        all.l_type = F_RDLCK;
        all.l_whence = SEEK_SET;
        return fcntl(fd, F_SETLK, &all) == 0;
    };
    const pid_t image = Holder(work + "/b.tif", whole), book = Holder(work + "/b.xls", whole);
    ASSERT_GT(image, 0);
    ASSERT_GT(book, 0);
    const std::string script = Script("again.s", "SaveImage(a, \"b.tif\");\n" + Export("b.xls", "T"));
    const pid_t run = StartHost(script, work);
    const std::string imageLine =
        "SaveImage waits for process " + std::to_string(image) + ", which holds a lock on \"b.tif\"\n";
    const std::string bookLine =
        "saveimageasxls waits for process " + std::to_string(book) + ", which holds a lock on \"b.xls\"\n";
    EXPECT_TRUE(Shown(run, script, imageLine));
    Let(image);
    EXPECT_TRUE(Shown(run, script, bookLine));
    Let(book);
    const HostRun ended = WaitHost(run, script, kLimit);
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_EQ(ended.out, imageLine + bookLine);
    EXPECT_TRUE(HasSheet(work + "/b.xls", "S"));
    EXPECT_TRUE(HasSheet(work + "/b.xls", "T"));
}

}  // namespace
