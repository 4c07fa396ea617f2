// A file with other links, or an owner the new file cannot take, gets the
// new contents copied into it: whole, or failing with the old file whole,
// or, failing midway, with the whole new file kept and named.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/file_replace/replace_fixture.h"
#include "tests/file_size_limit.h"
#include "tests/workbook/as_nobody.h"

using FileReplace::Outcome;
using Failure = FileReplace::Outcome::Failure;
using Names = std::vector<std::string>;

namespace {

std::unique_ptr<FileSizeLimit> limit;
void FillTheDisk(const std::string&) { limit = std::make_unique<FileSizeLimit>(16 * 1024); }

std::string movedOver;
void MoveOver(const std::string& target) { std::rename(movedOver.c_str(), target.c_str()); }

ssize_t FullDisk(int, const void*, std::size_t) {
    errno = ENOSPC;
    return -1;
}

}  // namespace

// Both names see the new contents, the file keeps its mode, and a shorter
// new file leaves nothing of the longer old one behind it.
TEST_F(ReplaceFolder, AFileWithTwoLinksIsWrittenInPlace) {
    Write(Path("a"), std::string(100000, 'o'));
    ASSERT_EQ(chmod(Path("a").c_str(), 0640), 0);
    ASSERT_EQ(link(Path("a").c_str(), Path("b").c_str()), 0);
    const ino_t old = Status(Path("a")).st_ino;
    const std::string bigger(200000, 'n');
    WatchSyncs(dir);
    EXPECT_EQ(Replace(Path("a"), bigger).failure, Failure::None);
    // The whole new file and its name are on disk before the copy begins.
    EXPECT_EQ(Seen(), Names({"file", "folder", "copy"}));
    EXPECT_EQ(Contents(Path("b")), bigger);
    EXPECT_EQ(Replace(Path("a"), "short").failure, Failure::None);
    EXPECT_EQ(Contents(Path("b")), "short");
    EXPECT_EQ(Status(Path("a")).st_ino, old);
    EXPECT_EQ(Status(Path("a")).st_mode & 07777, 0640u);
    EXPECT_EQ(Listing(), Names({"a", "b"}));
}

TEST_F(ReplaceFolder, ACopyFailingPartOfTheWayKeepsTheWholeNewFile) {
    Write(Path("a"), "old");
    ASSERT_EQ(link(Path("a").c_str(), Path("b").c_str()), 0);
    FileReplace::seams.copyWrite = FullDisk;
    const Outcome outcome = Replace(Path("a"), "new contents");
    EXPECT_EQ(outcome.failure, Failure::CopyFailed);
    EXPECT_EQ(FileReplace::NamedCause(outcome), "no space left on device");
    EXPECT_EQ(Contents(outcome.keptCopy), "new contents");
    EXPECT_EQ(outcome.keptCopy.rfind(Path("a."), 0), 0u) << outcome.keptCopy;
    EXPECT_EQ(Listing().size(), 3u);
}

// The room is made sure of first: a disk too full for the copy leaves the
// old file whole, and nothing beside it.
TEST_F(ReplaceFolder, ACopyWithoutRoomLeavesTheOldFileWhole) {
    if (!CanReserveRoom(Path("probe"))) GTEST_SKIP() << "this file system cannot reserve room";
    Write(Path("a"), "old");
    ASSERT_EQ(link(Path("a").c_str(), Path("b").c_str()), 0);
    FileReplace::seams.beforeInPlaceOpen = FillTheDisk;
    const Outcome outcome = Replace(Path("a"), std::string(64 * 1024, 'n'));
    const bool limited = limit != nullptr && limit->Active();
    limit.reset();
    ASSERT_TRUE(limited);
    EXPECT_EQ(outcome.failure, Failure::Failed);
    EXPECT_EQ(outcome.step, Outcome::Step::Reserve);
    EXPECT_EQ(FileReplace::NamedCause(outcome), "file too large");
    EXPECT_EQ(Contents(Path("a")), "old");
    EXPECT_EQ(Listing(), Names({"a", "b"}));
}

// A file put in the old one's place meanwhile is not written into.
TEST_F(ReplaceFolder, ACopyWritesOnlyIntoTheFileItChecked) {
    Write(Path("a"), "old");
    ASSERT_EQ(link(Path("a").c_str(), Path("b").c_str()), 0);
    Write(Path("c"), "another file");
    movedOver = Path("c");
    FileReplace::seams.beforeInPlaceOpen = MoveOver;
    const Outcome outcome = Replace(Path("a"), "new");
    EXPECT_EQ(outcome.failure, Failure::Failed);
    EXPECT_EQ(outcome.step, Outcome::Step::OpenOld);
    EXPECT_EQ(Contents(Path("a")), "another file");
    EXPECT_EQ(Contents(Path("b")), "old");
    EXPECT_EQ(Listing(), Names({"a", "b"}));
}

// In a group folder, a member may write another member's file but cannot
// give a new file its owner: the file is written in place and keeps it.
TEST_F(ReplaceFolder, AnOwnerTheNewFileCannotTakeIsKeptByACopy) {
    if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    Write(Path("a"), "root's");
    ASSERT_EQ(chown(Path("a").c_str(), 0, 65534), 0);
    ASSERT_EQ(chmod(Path("a").c_str(), 0664), 0);
    const ino_t old = Status(Path("a")).st_ino;
    EXPECT_EQ(AsNobody([&] { return Replace(Path("a"), "nobody's").failure == Failure::None ? "replaced" : ""; }),
              "replaced");
    EXPECT_EQ(Contents(Path("a")), "nobody's");
    EXPECT_EQ(Status(Path("a")).st_ino, old);
    EXPECT_EQ(Status(Path("a")).st_uid, 0u);
    EXPECT_EQ(Listing(), Names({"a"}));
}
