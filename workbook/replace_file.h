// Writing a compound document over an existing file without ever leaving a
// half-written one behind.
#ifndef WORKBOOK_REPLACE_FILE_H
#define WORKBOOK_REPLACE_FILE_H

#include <string>
#include <vector>

#include "compound_file/compound_file.h"

namespace CompoundFiles {

// Makes a new compound document holding one stream, streamName, with the
// bytes of stream, in a new file beside target; reads the stream back, and
// only when it came back whole syncs the file and renames it over target.
// The new file takes the mode (and, where allowed, the owner) of the file
// it replaces. A symbolic link target is followed to the file it names.
// Returns false, with target exactly as it was and the new file removed,
// when target exists but is not a regular file, or when any step fails.
// `document` is used for the writing and is closed on return.
bool ReplaceFile(const char* target, const char* streamName, const std::vector<char>& stream,
                 CompoundFile& document);

// An exclusive lock on the file a path names (a link is followed), held
// from loading a document to replacing it, so that writers of one file take
// turns and each loads what the one before it wrote. Only writers that take
// the lock wait for each other; readers never take it.
class FileLock {
public:
    enum class State {
        Held,        // a regular file with contents, locked
        HeldEmpty,   // an empty regular file, locked: a new document goes there
        NotRegular,  // the path names something else; nothing was opened
        Unlocked,    // no lock (no file and none can be made, or locks are not
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
