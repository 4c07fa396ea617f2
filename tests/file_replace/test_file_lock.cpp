// Writers of one file take turns: a second writer finds the file the path
// names locked, a missing file included (a locked empty file stands in for
// it, and goes again when nothing was written to it).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "file_replace/file_lock.h"
#include "tests/file_replace/replace_fixture.h"

using FileReplace::FileLock;
using Names = std::vector<std::string>;

TEST_F(ReplaceFolder, WritersOfOneFileTakeTurns) {
    const std::string file = Path("book");
    auto lockedElsewhere = [&] {
        const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        close(fd);
        return busy;
    };
    FileLock lock;
    EXPECT_EQ(lock.Acquire(file.c_str()), FileLock::State::HeldEmpty);
    EXPECT_TRUE(lockedElsewhere());
    lock.Release();
    EXPECT_EQ(Listing(), Names());

    EXPECT_EQ(lock.Acquire(file.c_str()), FileLock::State::HeldEmpty);
    EXPECT_EQ(Replace(file, "contents").failure, FileReplace::Outcome::Failure::None);
    lock.Release();
    EXPECT_EQ(lock.Acquire(file.c_str()), FileLock::State::Held);
    EXPECT_TRUE(lockedElsewhere());
    lock.Release();
    EXPECT_FALSE(lockedElsewhere());
    EXPECT_EQ(Listing(), Names({"book"}));
}
