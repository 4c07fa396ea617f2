// Writing a compound document over an existing file without leaving a
// half-written one behind (or, where it must be written in place, not
// without a whole copy beside it), and the lock with which writers of one
// file take turns.
#ifndef WORKBOOK_REPLACE_FILE_H
#define WORKBOOK_REPLACE_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "compound_file/compound_file.h"

namespace CompoundFiles {

// Why a replace failed, and what it left behind.
struct ReplaceOutcome {
    enum class Failure {
        None,
        NotRegular,   // target exists but is not a regular file (or a link to one)
        NotWritable,  // this user may not write target
        Failed,       // target was left as it was
        CopyFailed,   // the copy into target failed part of the way: target
                      // may be damaged, keptCopy holds the whole new document
    };
    Failure failure = Failure::None;
    std::string keptCopy;
};

// Makes a new compound document holding one stream, streamName, with the
// bytes of stream, in a new file beside target, and reads the stream back.
// Only when it came back whole is the file synced and renamed over target;
// it takes the mode, owner and group of the file it replaces. Where the
// owner and group cannot be kept, or target has other hard links, the new
// document is copied into target in place instead (keeping its owner,
// group, mode and links) and the new file is removed after that; the room
// it grows by is reserved first, so a full disk leaves it whole. A symbolic
// link target is followed to the file it names, and a link that names no
// file is refused. Returns false, with outcome (when given) saying why, when
// target exists but is not a regular file or this user may not write it, or
// when any step fails; target is then as it was and the new file removed,
// except when the copy in place failed part of the way.
// `document` is used for the writing and is closed on return.
bool ReplaceFile(const char* target, const char* streamName, const std::vector<char>& stream, CompoundFile& document,
                 ReplaceOutcome* outcome = nullptr);

// The write the copy in place makes; tests put one here that fails.
extern ssize_t (*inPlaceWrite)(int fd, const void* data, std::size_t size);
// Called, when set, just before the copy in place opens the old file; tests
// change the file system there.
extern void (*beforeInPlaceOpen)(const std::string& target);

// An exclusive lock on the file a path names (a link is followed), held
// from loading a document to replacing it, so that writers of one file take
// turns and each loads what the one before it wrote. Only writers that take
// the lock wait for each other; readers never take it.
class FileLock {
public:
    enum class State {
        Held,         // a regular file with contents, locked
        HeldEmpty,    // an empty regular file, locked: a new document goes there
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
    // to stand in for the new document, so that a second writer waits for it
    // too; it is removed again on release unless something was written.
    State Acquire(const char* path);
    void Release();

private:
    int fd = -1;
    bool made = false;
    std::string path;
};

}  // namespace CompoundFiles

#endif
