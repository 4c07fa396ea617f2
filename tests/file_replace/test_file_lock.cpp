// Writers of one file take turns: a second writer finds the file the path
// names locked, or, where no file is yet, its folder, so that nothing is
// made under the new name for the lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "file_replace/file_lock.h"
#include "tests/file_replace/replace_fixture.h"

using FileReplace::FileLock;
using Names = std::vector<std::string>;

namespace {

bool LockedElsewhere(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return busy;
}

}  // namespace

TEST_F(ReplaceFolder, WritersOfOneFileTakeTurns) {
    const std::string file = Path("book");
    FileLock lock;
    EXPECT_EQ(lock.Acquire(file.c_str()), FileLock::State::HeldEmpty);
    EXPECT_TRUE(LockedElsewhere(dir));
    EXPECT_EQ(Listing(), Names()) << "a file was made for the lock";
    EXPECT_EQ(Replace(file, "contents").failure, FileReplace::Outcome::Failure::None);
    lock.Release();
    EXPECT_FALSE(LockedElsewhere(dir));

    EXPECT_EQ(lock.Acquire(file.c_str()), FileLock::State::Held);
    EXPECT_TRUE(LockedElsewhere(file));
    EXPECT_FALSE(LockedElsewhere(dir));
    lock.Release();
    EXPECT_FALSE(LockedElsewhere(file));

    // An empty file someone else made is a file like any other: it stays.
    Write(Path("empty"), "");
    EXPECT_EQ(lock.Acquire(Path("empty").c_str()), FileLock::State::HeldEmpty);
    lock.Release();
    EXPECT_EQ(Listing(), Names({"book", "empty"}));
}

// 2 to 8 writers at once, each adding its line to what the one before it
// wrote, the first of them into a file that is not there yet: no line is
// lost.
TEST_F(ReplaceFolder, EachWriterReadsWhatTheOneBeforeWrote) {
    for (int writers = 2; writers <= 8; ++writers) {
        const std::string file = Path("book" + std::to_string(writers));
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w)
            threads.emplace_back([&, w] {
                FileLock lock;
                const FileLock::State state = lock.Acquire(file.c_str());
                const std::string before = state == FileLock::State::Held ? Contents(file) : "";
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                Replace(file, before + "writer " + std::to_string(w) + "\n");
            });
        for (std::thread& t : threads) t.join();
        const std::string lines = Contents(file);
        for (int w = 0; w < writers; ++w)
            EXPECT_NE(lines.find("writer " + std::to_string(w) + "\n"), std::string::npos) << writers << ":\n" << lines;
    }
}
