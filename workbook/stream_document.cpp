#include "workbook/stream_document.h"

#include <cerrno>

namespace CompoundFiles {

bool ReplaceWithStream(const std::string& target, const char* streamName, const std::vector<char>& stream,
                       CompoundFile& document, FileReplace::Outcome& outcome, FileReplace::Existing existing) {
    if (document.IsOpen()) document.Close();
    auto write = [&](int, const std::string& name) {
        // The block file says only that a write failed; the cause is the
        // errno its last system call left.
        errno = 0;
        bool ok = document.Create(name.c_str()) && document.MakeFile(streamName) == kDone &&
                  document.WriteFile(streamName, stream, stream.size()) == kDone;
        int cause = errno;
        document.Close();
        if (!ok) return cause != 0 ? cause : -1;
        // Trust nothing that was not read back.
        std::vector<char> check;
        errno = 0;
        ok = document.Open(name.c_str(), std::ios_base::in) && document.ReadFile(streamName, check) == kDone;
        cause = errno;
        document.Close();
        if (!ok) return cause != 0 ? cause : -1;
        return check == stream ? 0 : -1;
    };
    if (streamName == nullptr) {
        outcome = FileReplace::Outcome();
        outcome.failure = FileReplace::Outcome::Failure::Failed;
        return false;
    }
    return FileReplace::ReplaceFile(target, write, outcome, existing);
}

}  // namespace CompoundFiles
