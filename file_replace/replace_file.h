// Replacing a file with a whole new one: the old file whole or the new file
// whole, never a mix.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "file_replace/outcome.h"

namespace FileReplace {

// Writes the new contents into `fd`, a new empty file called `name`, open
// for reading and writing (it may also be opened by name; fd stays open and
// is not closed here). Returns 0, a positive errno that is the cause of a
// failure, or -1 for a failure without one.
using WriteContents = std::function<int(int fd, const std::string& name)>;

// Replaces the file `path` stands for (a symbolic link is followed and
// stays) with what `write` writes. The new file is written beside it, takes
// the old one's owner, group, mode and extended attributes (its ACL among
// them), is synced and renamed over it, and the folder is synced. Where the
// new file cannot take the owner or the attributes, or other hard links
// share the old file, the whole new file is copied into the old one instead
// (see CopyInPlace) and then removed; it is synced, and its folder, before
// the copy begins, so that a kill or a crash during the copy leaves it whole
// beside the old file. A name where nothing is yet gets a new file with the
// mode the umask leaves of 0666, put there whole by a rename that never
// replaces: where another save put a file there meanwhile, the answer is
// false with NameTaken and nothing of this save is left.
// Returns false, with outcome saying why, when the target is refused (see
// FindTarget) or any step fails; the old file is then as it was and the new
// one removed, except after a copy in place that failed midway
// (CopyFailed): then the new file stays, whole, named in keptCopy.
// Saves of one file should hold its FileLock around this call; a save that
// found no file there (and so holds no lock) asks Existing::Keep: a file
// found there by now is another save's, kept, and the answer is NameTaken.
enum class Existing { Replace, Keep };
bool ReplaceFile(const std::string& path, const WriteContents& write, Outcome& outcome,
                 Existing existing = Existing::Replace);

// The same with the new contents given whole.
bool ReplaceFile(const std::string& path, const void* bytes, std::size_t size, Outcome& outcome,
                 Existing existing = Existing::Replace);

}  // namespace FileReplace
