// The lock with which saves of one file take turns.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace FileReplace {

// An exclusive lock on the file a path names (a link is followed), held
// from reading a file to replacing it, so that saves of one file take turns
// and each reads what the one before it wrote. A name where no file is yet
// takes no lock: nothing is made there nor held, and the save puts its
// file there only while the name is still free (see ReplaceFile); where
// another save got there first, the save takes this lock and begins again.
// The lock is one that only saves take (see file_lock.cpp): a reader's lock
// does not stop a save.
class FileLock {
public:
    enum class State {
        Held,         // a regular file with contents, locked
        HeldEmpty,    // an empty regular file, locked: a new file goes there
        Absent,       // no file has the name; nothing is held
        NotRegular,   // the path names something else; nothing was opened
        NotWritable,  // this user may not write the file; nothing was opened
        Unsure,       // the file could not be examined or opened (a link
                      // that names no file, a folder that may not be searched,
                      // a read-only mount): nothing is held, the save names
                      // the cause
        NoLocks,      // the file cannot be locked here (error() says why):
                      // nothing is held, so the save must not go ahead
    };
    // Told once, when the lock is not had within a second, whose lock the
    // save waits for: the holder's process id, or 0 for another save.
    using Waiting = std::function<void(pid_t holder)>;

    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits for the lock as long as it is held, telling `waiting` (when
    // given) once. Fails only as the states say; EROFS is no refusal here.
    State Acquire(const char* path, const Waiting& waiting = nullptr);
    void Release();
    // The errno behind NoLocks.
    int error() const { return cause; }

private:
    int fd = -1;
    int cause = 0;
};

// What a save that waits says after its own name: `waits for another save
// of "a.tif"`, or `waits for process 1234, which holds a lock on "a.tif"`.
std::string WaitingFor(const std::string& path, pid_t holder);

}  // namespace FileReplace
