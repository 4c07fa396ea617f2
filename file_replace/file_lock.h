// The lock with which writers of one file take turns.
#pragma once

#include <string>

namespace FileReplace {

// An exclusive lock on the file a path names (a link is followed), held
// from reading a file to replacing it, so that writers of one file take
// turns and each reads what the one before it wrote. Only writers that take
// the lock wait for each other; readers never take it.
class FileLock {
public:
    enum class State {
        Held,         // a regular file with contents, locked
        HeldEmpty,    // an empty regular file, locked: a new file goes there
        NotRegular,   // the path names something else; nothing was opened
        NotWritable,  // this user may not write the file; nothing was opened
        Unlocked,     // no lock (no file and none can be made, or locks are not
                      // supported): nothing is held
    };
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits for the lock. Where the path names no file, an empty one is made
    // to stand in for the new file, so that a second writer waits for it
    // too; it is removed again on release unless something was written.
    State Acquire(const char* path);
    void Release();

private:
    int fd = -1;
    bool made = false;
    std::string path;
};

}  // namespace FileReplace
