// Replacing a file through a new one beside it and a rename: what is
// refused, what is kept, and that a failure leaves the old file and names
// its cause.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "tests/file_replace/replace_fixture.h"
#include "tests/file_size_limit.h"
#include "tests/workbook/as_nobody.h"
#include "tests/workbook/fifo_watch.h"

using FileReplace::Outcome;
using Failure = FileReplace::Outcome::Failure;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

// The rename lasts once the folder is synced too.
TEST_F(ReplaceFolder, ANewFileOrAWholeOneInTheOldOnesPlaceWithItsMode) {
    WatchSyncs(dir);
    const mode_t mask = umask(027);
    EXPECT_EQ(Replace(Path("new"), "first").failure, Failure::None);
    umask(mask);
    EXPECT_EQ(Status(Path("new")).st_mode & 07777, 0640u);

    Write(Path("a"), "old contents");
    ASSERT_EQ(chmod(Path("a").c_str(), 0604), 0);
    const ino_t old = Status(Path("a")).st_ino;
    EXPECT_EQ(Replace(Path("a"), "new").failure, Failure::None);
    EXPECT_EQ(Contents(Path("a")), "new");
    EXPECT_EQ(Status(Path("a")).st_mode & 07777, 0604u);
    EXPECT_NE(Status(Path("a")).st_ino, old) << "renamed, not written in place";
    EXPECT_EQ(Listing(), Names({"a", "new"}));
    EXPECT_EQ(Seen(), Names({"file", "folder", "file", "folder"}));

    // The set-user-id, set-group-id and sticky bits stay too.
    ASSERT_EQ(chmod(Path("a").c_str(), 07751), 0);
    EXPECT_EQ(Replace(Path("a"), "newer").failure, Failure::None);
    EXPECT_EQ(Status(Path("a")).st_mode & 07777, 07751u);
}

// The file-size limit makes the writes fail midway, as a full disk
// would: the old file stays whole, nothing is left beside it, and the
// outcome names the cause.
TEST_F(ReplaceFolder, AWriteThatFailsLeavesTheOldFileAndNamesTheCause) {
    Write(Path("a"), "old contents");
    Outcome outcome;
    {
        FileSizeLimit full(16 * 1024);
        ASSERT_TRUE(full.Active());
        outcome = Replace(Path("a"), std::string(64 * 1024, 'n'));
    }
    EXPECT_EQ(outcome.failure, Failure::Failed);
    EXPECT_EQ(outcome.step, Outcome::Step::Write);
    EXPECT_EQ(outcome.error, EFBIG);
    EXPECT_EQ(FileReplace::NamedCause(outcome), "file too large");
    EXPECT_EQ(Contents(Path("a")), "old contents");
    EXPECT_EQ(Listing(), Names({"a"}));

    // A writer that fails without a cause gives none.
    ASSERT_FALSE(FileReplace::ReplaceFile(
        Path("a"), [](int, const std::string&) { return -1; }, outcome));
    EXPECT_EQ(outcome.error, 0);
    EXPECT_EQ(FileReplace::NamedCause(outcome), "");
    EXPECT_EQ(Listing(), Names({"a"}));
}

TEST_F(ReplaceFolder, OnlyARegularFileOrALinkToOneIsReplaced) {
    fs::create_directory(Path("sub"));
    Outcome outcome = Replace(Path("sub"), "x");
    EXPECT_EQ(outcome.failure, Failure::NotRegular);
    EXPECT_TRUE(S_ISDIR(outcome.kind));

    // A FIFO is not even opened: that would wait for a writer.
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0644), 0);
    FifoWatch watch(Path("pipe"));
    EXPECT_EQ(Replace(Path("pipe"), "x").failure, Failure::NotRegular);
    EXPECT_FALSE(watch.Stop()) << "the FIFO was opened";
    EXPECT_TRUE(fs::is_fifo(Path("pipe")));
    fs::remove(Path("pipe"));

    // A link is followed: it stays, and the file it names is replaced.
    Write(Path("real"), "old");
    fs::create_symlink("real", Path("link"));
    EXPECT_EQ(Replace(Path("link"), "new").failure, Failure::None);
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(Contents(Path("real")), "new");

    // A link that names no file stays such a link; a loop of links and a
    // name too long are refused with their causes.
    fs::create_symlink("none/a", Path("nowhere"));
    EXPECT_EQ(Replace(Path("nowhere"), "x").failure, Failure::DanglingLink);
    EXPECT_TRUE(fs::is_symlink(Path("nowhere")));
    fs::create_symlink("loop", Path("loop"));
    outcome = Replace(Path("loop"), "x");
    EXPECT_EQ(outcome.failure, Failure::Failed);
    EXPECT_EQ(FileReplace::NamedCause(outcome), "too many levels of symbolic links");
    outcome = Replace(Path(std::string(256, 'n')), "x");
    EXPECT_EQ(FileReplace::NamedCause(outcome), "file name too long");
    // A missing folder is named; no file was there to keep.
    outcome = Replace(Path("missing/a"), "x");
    EXPECT_EQ(outcome.failure, Failure::Failed);
    EXPECT_EQ(outcome.step, Outcome::Step::Create);
    EXPECT_EQ(FileReplace::NamedCause(outcome), "no such file or directory");
    EXPECT_TRUE(outcome.nothingThere);
    EXPECT_EQ(Listing(), Names({"link", "loop", "nowhere", "real", "sub"}));
}

// The new file's name must fit the folder, also beside a file whose name
// is already as long as names may be; a name cut short is not cut inside a
// character.
TEST_F(ReplaceFolder, FilesOfTheLongestNamesAreReplaced) {
    for (std::size_t length = 249; length <= 255; ++length) {
        const std::string name(length, 'l');
        Write(Path(name), "old");
        EXPECT_EQ(Replace(Path(name), "new").failure, Failure::None) << length;
        EXPECT_EQ(Contents(Path(name)), "new");
        fs::remove(Path(name));
    }
    // One byte and 127 two-byte characters: the copy kept after a failed
    // copy in place has a name that is whole UTF-8.
    std::string wide = "x";
    for (int k = 0; k < 127; ++k) wide += "\xC3\xA9";
    Write(Path(wide), "old");
    ASSERT_EQ(link(Path(wide).c_str(), Path("second").c_str()), 0);
    FileReplace::seams.copyWrite = [](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    };
    const Outcome outcome = Replace(Path(wide), "new");
    ASSERT_EQ(outcome.failure, Failure::CopyFailed);
    const std::string kept = fs::path(outcome.keptCopy).filename().string();
    EXPECT_LE(kept.size(), 255u);
    EXPECT_EQ(kept.compare(0, kept.size() - 7, wide, 0, kept.size() - 7), 0) << kept;
    EXPECT_NE(static_cast<unsigned char>(kept[kept.size() - 8]), 0xC3) << "a character cut in two";
    EXPECT_EQ(Contents(outcome.keptCopy), "new");
}

// Whether the file may be written is the file's own permission, not the
// folder's: another user may not replace root's file in a folder everyone
// may write. Root keeps another user's owner and group.
TEST_F(ReplaceFolder, OwnersAndPermissionsAreKept) {
    if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
    Write(Path("a"), "root's");
    ASSERT_EQ(chmod(Path("a").c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    EXPECT_EQ(AsNobody([&] { return Replace(Path("a"), "nobody's").failure == Failure::NotWritable ? "refused" : ""; }),
              "refused");
    EXPECT_EQ(Contents(Path("a")), "root's");
    EXPECT_EQ(Listing(), Names({"a"}));

    ASSERT_EQ(chown(Path("a").c_str(), 65534, 65534), 0);
    EXPECT_EQ(Replace(Path("a"), "new").failure, Failure::None);
    EXPECT_EQ(Status(Path("a")).st_uid, 65534u);
    EXPECT_EQ(Status(Path("a")).st_gid, 65534u);
}

namespace {

int RefusedRename(const char*, const char*) {
    errno = EINVAL;
    return -1;
}

}  // namespace

// A new name is taken only while nothing has it, with the rename that
// refuses to replace or, where a file system refuses that, with a second
// link: a file another save put there meanwhile stays, and nothing of this
// save is left beside it.
TEST_F(ReplaceFolder, ANewNameIsNeverTakenFromAnotherSave) {
    for (const bool linked : {false, true}) {
        FileReplace::seams.renameNoReplace = linked ? RefusedRename : nullptr;
        const std::string name = linked ? "linked" : "renamed";
        Outcome outcome;
        ASSERT_FALSE(FileReplace::ReplaceFile(
            Path(name),
            [&](int fd, const std::string&) {
                Write(Path(name), "the other save's");
                return write(fd, "mine", 4) == 4 ? 0 : errno;
            },
            outcome));
        EXPECT_EQ(outcome.failure, Failure::NameTaken) << name;
        EXPECT_EQ(Contents(Path(name)), "the other save's");
        EXPECT_EQ(Listing(), Names({name})) << name;
        fs::remove(Path(name));
        EXPECT_EQ(Replace(Path(name), "mine").failure, Failure::None) << name;
        EXPECT_EQ(Contents(Path(name)), "mine");
        EXPECT_EQ(Status(Path(name)).st_nlink, 1u) << name;
        EXPECT_EQ(Listing(), Names({name})) << name;
        fs::remove(Path(name));
    }
}

// A folder its owner may write but not read cannot be opened to be synced:
// the new name is made to last all the same.
TEST_F(ReplaceFolder, ANewNameLastsInAFolderThatCannotBeRead) {
    if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
    ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0300), 0);
    WatchSyncs(dir);
    EXPECT_EQ(AsNobody([&] { return Replace(Path("a"), "nobody's").failure == Failure::None ? "saved" : ""; }),
              "saved");
    EXPECT_EQ(Contents(Path("a")), "nobody's");
    // The child's seams saw it; here the folder is synced by root.
    EXPECT_EQ(AsNobody([&] {
                  WatchSyncs(dir);
                  Replace(Path("b"), "x");
                  return Seen() == Names({"file", "folder"}) ? "synced" : "not synced";
              }),
              "synced");
}
