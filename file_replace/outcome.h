// What replacing a file came to: which refusal or failure, at which step,
// and the system's cause.
#pragma once

#include <sys/types.h>

#include <string>

namespace FileReplace {

struct Outcome {
    enum class Failure {
        None,
        DanglingLink,  // the name is a symbolic link that names no file
        NotRegular,    // something other than a regular file is there (see kind)
        NotWritable,   // this user may not write the file
        Failed,        // the file was left as it was
        CopyFailed,    // the copy in place failed midway: the file
                       // may be damaged, keptCopy holds the whole new one
        NameTaken,     // no file had the name, but another save put one
                       // there meanwhile; nothing of this one is left: take
                       // that file's lock and save again
    };
    // Where it failed, for messages that have only the step to go on.
    enum class Step {
        None,
        Examine,  // finding the file the name stands for
        Create,   // making the new file beside it
        Write,    // writing and syncing the new file
        Reserve,  // making sure of the room for the copy in place
        OpenOld,  // opening the old file for the copy in place
        Copy,     // the copy in place itself
        Rename,   // putting the new file in the old one's place
    };
    Failure failure = Failure::None;
    Step step = Step::None;
    int error = 0;              // the errno that is the cause; 0 where none is known
    mode_t kind = 0;            // NotRegular: the st_mode of what is there
    bool nothingThere = false;  // no file had the name: a failure left none
    std::string keptCopy;
};

// The cause, as the system words it, in lower case ("no space left on
// device", "no such file or directory" for a missing folder); "" where the
// outcome has no errno.
std::string NamedCause(const Outcome& outcome);

// The same for an errno of its own.
std::string NamedCause(int error);

}  // namespace FileReplace
