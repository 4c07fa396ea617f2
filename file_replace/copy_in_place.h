// Writing a new file's contents into the old file itself, for a file whose
// links or owner a rename would lose.
#pragma once

#include "file_replace/outcome.h"
#include "file_replace/target.h"

namespace FileReplace {

// Copies the whole of the open file `from` (read from its start) over the
// file `to` names, which must still be the file found as `to`, and cuts it
// to the new length and syncs it; it keeps its owner, group, mode,
// attributes and links. The room the copy needs is made sure of first. Returns
// false with outcome Failed (the old file as it was) when the old file
// cannot be opened, is another file by now (no errno) or the room is not
// there; with CopyFailed (keptCopy not yet set) when a write failed midway
// or the old length could not be put back after a refused
// reservation.
bool CopyInPlace(int from, const Target& to, Outcome& outcome);

}  // namespace FileReplace
