#include "file_replace/temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace FileReplace {

namespace {

constexpr char kRandomPart[] = ".XXXXXX";
constexpr std::size_t kRandomLength = sizeof kRandomPart - 1;

// The longest name a file in `folder` may have.
std::size_t LongestName(const std::string& folder) {
    const long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
    return longest > static_cast<long>(kRandomLength) ? static_cast<std::size_t>(longest) : NAME_MAX;
}

}  // namespace

TemporaryFile::~TemporaryFile() {
    Close();
    if (!name.empty()) unlink(name.c_str());
}

int TemporaryFile::Close() {
    if (fd < 0) return 0;
    const int closed = close(fd);
    fd = -1;
    return closed == 0 ? 0 : errno;
}

int TemporaryFile::Make(const std::string& beside, const struct stat* owner, bool& ownerKept) {
    const std::string::size_type slash = beside.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : beside.substr(0, slash == 0 ? 1 : slash);
    const std::string prefix = slash == std::string::npos ? "" : beside.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? beside : beside.substr(slash + 1);
    const std::size_t room = LongestName(folder) - kRandomLength;
    if (base.size() > room) {
        base.resize(room);
        // Not in the middle of a UTF-8 character.
        std::size_t start = base.size();
        while (start > 0 && (static_cast<unsigned char>(base[start - 1]) & 0xC0) == 0x80) --start;
        if (start > 0) {
            const unsigned lead = static_cast<unsigned char>(base[start - 1]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (start - 1 + length > base.size()) base.resize(start - 1);
        }
    }
    std::string whole = prefix + base + kRandomPart;
    std::vector<char> pattern(whole.begin(), whole.end());
    pattern.push_back('\0');
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    name = pattern.data();
    ownerKept = owner == nullptr || fchown(fd, owner->st_uid, owner->st_gid) == 0;
    return 0;
}

}  // namespace FileReplace
