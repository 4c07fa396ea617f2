#include "file_replace/attributes.h"

#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace FileReplace {

namespace {

// Calls `ask(buffer, size)` (a listxattr or getxattr) until its answer fits:
// the answer may grow between the call that sizes it and the one that reads.
template <typename Ask>
int ReadWhole(Ask ask, std::vector<char>& answer) {
    for (;;) {
        const ssize_t wanted = ask(nullptr, 0);
        if (wanted < 0) return errno;
        // Asked with no room, the call would answer the size again.
        if (wanted == 0) {
            answer.clear();
            return 0;
        }
        answer.resize(static_cast<std::size_t>(wanted));
        const ssize_t got = ask(answer.data(), answer.size());
        if (got >= 0) {
            answer.resize(static_cast<std::size_t>(got));
            return 0;
        }
        if (errno != ERANGE) return errno;
    }
}

// The names in a list of zero-terminated names; none where the file system
// holds no attributes.
void Names(const std::vector<char>& list, std::vector<std::string>& names) {
    names.clear();
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = std::find(list.begin() + at, list.end(), '\0') - list.begin();
        if (end > at) names.emplace_back(list.data() + at, end - at);
        at = end + 1;
    }
}

bool NoAttributes(int error) { return error == ENOTSUP || error == ENOSYS; }

}  // namespace

int CopyAttributes(const std::string& from, int to) {
    std::vector<char> list;
    std::vector<std::string> wanted;
    int error = ReadWhole([&](char* b, std::size_t n) { return llistxattr(from.c_str(), b, n); }, list);
    if (error != 0 && !NoAttributes(error)) return error;
    if (error == 0) Names(list, wanted);
    std::vector<std::string> present;
    error = ReadWhole([&](char* b, std::size_t n) { return flistxattr(to, b, n); }, list);
    if (error != 0 && !(NoAttributes(error) && wanted.empty())) return error;
    if (error == 0) Names(list, present);

    for (const std::string& name : present)
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() && fremovexattr(to, name.c_str()) != 0 &&
            errno != ENODATA)
            return errno;
    std::vector<char> value;
    for (const std::string& name : wanted) {
        error = ReadWhole([&](char* b, std::size_t n) { return lgetxattr(from.c_str(), name.c_str(), b, n); }, value);
        // Removed meanwhile: nothing to copy.
        if (error == ENODATA) continue;
        if (error != 0) return error;
        if (fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) return errno;
    }
    return 0;
}

}  // namespace FileReplace
