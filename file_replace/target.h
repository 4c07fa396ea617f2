// The file a name stands for when it is to be replaced.
#pragma once

#include <sys/stat.h>

#include <string>

#include "file_replace/outcome.h"

namespace FileReplace {

struct Target {
    std::string name;  // the file itself: a symbolic link is followed
    bool exists = false;
    struct stat info {};  // when it exists
};

// Finds the file `path` stands for without opening it (opening a FIFO would
// wait for a writer): a link is followed, so the link stays and the file it
// names is replaced; a name where nothing is yet is a new file
// (outcome.nothingThere says so). Returns
// false, with outcome saying why (step Examine), for a link that names no
// file, something other than a regular file, a file this user may not write
// (the system decides: ids, ACLs, read-only mounts), and any other failure
// with its errno (a loop of links, a name too long, a folder that may not be
// searched).
bool FindTarget(const std::string& path, Target& target, Outcome& outcome);

}  // namespace FileReplace
