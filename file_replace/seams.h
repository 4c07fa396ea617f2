// Places where tests change what replacing a file meets (a disk that fills
// up midway, a file put in the old one's place, a file system without a
// rename that refuses to replace) or watch it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace FileReplace {

struct Seams {
    // Writes the copy in place, in place of write(2), when set.
    ssize_t (*copyWrite)(int fd, const void* data, std::size_t size) = nullptr;
    // Called, when set, just before the copy in place opens the old file.
    void (*beforeInPlaceOpen)(const std::string& target) = nullptr;
    // Gives the new file the old one's attributes, in place of
    // CopyAttributes, when set.
    int (*copyAttributes)(const std::string& from, int to) = nullptr;
    // Told, when set, of each file and folder synced, in turn (a folder
    // that cannot be opened is told when its whole file system was synced).
    void (*synced)(const std::string& name) = nullptr;
    // Puts a new file under a name nothing has, in place of
    // renameat2(RENAME_NOREPLACE), when set.
    int (*renameNoReplace)(const char* from, const char* to) = nullptr;
};

// Empty outside tests.
extern Seams seams;

}  // namespace FileReplace
