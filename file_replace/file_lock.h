// The lock with which writers of one file take turns.
#pragma once

namespace FileReplace {

// An exclusive lock on the file a path names (a link is followed), held
// from reading a file to replacing it, so that writers of one file take
// turns and each reads what the one before it wrote. Where the path names
// no file yet, the folder it would go in is locked instead: nothing is made
// under the new name for the lock, so a writer killed while holding it
// leaves nothing there. Only writers that take the lock wait for each
// other; readers never take it.
class FileLock {
public:
    enum class State {
        Held,         // a regular file with contents, locked
        HeldEmpty,    // an empty regular file, or no file (its folder is
                      // locked): a new file goes there
        NotRegular,   // the path names something else; nothing was opened
        NotWritable,  // this user may not write the file; nothing was opened
        Unlocked,     // no lock (the folder cannot be opened, a link names no
                      // file, or locks are not supported): nothing is held
    };
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits for the lock. Fails only as the states say; EROFS is no refusal
    // here (a read-only mount is left to the save, which names it).
    State Acquire(const char* path);
    void Release();

private:
    int fd = -1;
};

}  // namespace FileReplace
