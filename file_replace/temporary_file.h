// A new file beside the one it is to replace, removed again unless kept.
#pragma once

#include <sys/stat.h>

#include <string>

namespace FileReplace {

class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Makes an empty file, open for reading and writing, in the folder of
    // `beside`, named after it but never longer than the folder allows (the
    // name is cut, at a character, to leave room for the random suffix), so
    // that a file of the longest name can still be replaced. When `owner` is
    // given the new file gets its owner and group; ownerKept says whether it
    // could. Returns 0, or the errno of the failure (nothing is left then).
    int Make(const std::string& beside, const struct stat* owner, bool& ownerKept);

    // The new file stays where it is (it was renamed, or is kept on purpose).
    void Keep() { name.clear(); }
    // Closes the descriptor; 0 or the errno of the failure.
    int Close();

    std::string name;
    int fd = -1;
};

}  // namespace FileReplace
