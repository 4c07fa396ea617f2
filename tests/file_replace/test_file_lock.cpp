// Saves of one file take turns on a lock only saves take: a reader's lock
// and any lock on the folder stop none, a name where no file is yet takes
// no lock at all, and a save that waits is told whose lock it waits for.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "file_replace/file_lock.h"
#include "tests/file_replace/replace_fixture.h"

using FileReplace::FileLock;
using Names = std::vector<std::string>;

namespace {

// Whether some open-file-description lock is on the file.
bool Locked(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    const bool busy = fd >= 0 && fcntl(fd, F_OFD_GETLK, &whole) == 0 && whole.l_type != F_UNLCK;
    if (fd >= 0) close(fd);
    return busy;
}

}  // namespace

TEST_F(ReplaceFolder, SavesOfOneFileTakeTurns) {
    const std::string file = Path("book");
    // Others hold the folder: a new name needs nothing of it.
    const int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(folder, LOCK_EX), 0);
    FileLock lock;
    EXPECT_EQ(lock.Acquire(file.c_str()), FileLock::State::Absent);
    EXPECT_EQ(Listing(), Names()) << "a file was made for the lock";
    EXPECT_EQ(Replace(file, "contents").failure, FileReplace::Outcome::Failure::None);
    close(folder);

    // A reader's shared flock stops no save.
    const int reader = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(reader, LOCK_SH), 0);
    EXPECT_EQ(lock.Acquire(file.c_str()), FileLock::State::Held);
    EXPECT_TRUE(Locked(file));
    lock.Release();
    EXPECT_FALSE(Locked(file));
    close(reader);

    // An empty file someone else made is a file like any other: it stays.
    Write(Path("empty"), "");
    EXPECT_EQ(lock.Acquire(Path("empty").c_str()), FileLock::State::HeldEmpty);
    lock.Release();
    EXPECT_EQ(Listing(), Names({"book", "empty"}));
}

// Told once whose lock it is, the waiting save goes on when it is let go:
// another save's, then another program's lock on the whole file.
TEST_F(ReplaceFolder, ASaveThatWaitsIsToldForWhat) {
    const std::string file = Path("a");
    Write(file, "contents");
    FileLock first, second;
    ASSERT_EQ(first.Acquire(file.c_str()), FileLock::State::Held);
    std::vector<pid_t> told;
    EXPECT_EQ(second.Acquire(file.c_str(),
                             [&](pid_t holder) {
                                 told.push_back(holder);
                                 first.Release();
                             }),
              FileLock::State::Held);
    EXPECT_EQ(told, std::vector<pid_t>({0}));
    EXPECT_EQ(FileReplace::WaitingFor("a.tif", 0), "waits for another save of \"a.tif\"");
    second.Release();

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = open(file.c_str(), O_RDONLY);
        struct flock whole {};
        whole.l_type = F_RDLCK;
        whole.l_whence = SEEK_SET;
        const bool locked = fd >= 0 && fcntl(fd, F_SETLK, &whole) == 0;
        if (write(ready[1], locked ? "y" : "n", 1) != 1 || !locked) _exit(1);
        pause();
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    told.clear();
    EXPECT_EQ(second.Acquire(file.c_str(),
                             [&](pid_t who) {
                                 told.push_back(who);
                                 kill(holder, SIGKILL);
                                 waitpid(holder, nullptr, 0);
                             }),
              FileLock::State::Held);
    EXPECT_EQ(told, std::vector<pid_t>({holder}));
    close(ready[0]);
    close(ready[1]);
}

// 2 to 8 saves at once, each adding its line to what the one before it
// wrote, all into a name where nothing is yet: a save that finds the name
// taken when it puts its file there reads that file and saves again, so no
// line is lost.
TEST_F(ReplaceFolder, EachSaveReadsWhatTheOneBeforeWrote) {
    for (int writers = 2; writers <= 8; ++writers) {
        const std::string file = Path("book" + std::to_string(writers));
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w)
            threads.emplace_back([&, w] {
                for (;;) {
                    FileLock lock;
                    const FileLock::State state = lock.Acquire(file.c_str());
                    const std::string before = state == FileLock::State::Held ? Contents(file) : "";
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    const std::string text = before + "writer " + std::to_string(w) + "\n";
                    FileReplace::Outcome outcome;
                    FileReplace::ReplaceFile(file, text.data(), text.size(), outcome,
                                             state == FileLock::State::Absent ? FileReplace::Existing::Keep
                                                                              : FileReplace::Existing::Replace);
                    EXPECT_TRUE(outcome.failure == FileReplace::Outcome::Failure::None ||
                                outcome.failure == FileReplace::Outcome::Failure::NameTaken);
                    if (outcome.failure != FileReplace::Outcome::Failure::NameTaken) break;
                }
            });
        for (std::thread& t : threads) t.join();
        const std::string lines = Contents(file);
        for (int w = 0; w < writers; ++w)
            EXPECT_NE(lines.find("writer " + std::to_string(w) + "\n"), std::string::npos) << writers << ":\n" << lines;
    }
}
