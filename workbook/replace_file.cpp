#include "workbook/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace CompoundFiles {

namespace {

// The file a name stands for: a symbolic link is followed, so the link stays
// and the file it names is replaced.
bool ResolveTarget(const char* target, std::string& resolved, struct stat& info, bool& exists) {
    resolved = target;
    exists = false;
    struct stat link;
    if (lstat(target, &link) != 0) return errno == ENOENT;
    if (S_ISLNK(link.st_mode)) {
        char* real = realpath(target, nullptr);
        if (real == nullptr) return false;
        resolved = real;
        std::free(real);
        if (stat(resolved.c_str(), &info) != 0) return false;
    } else {
        info = link;
    }
    exists = true;
    return S_ISREG(info.st_mode);
}

bool SyncFile(const char* name, int flags) {
    const int fd = open(name, flags);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

class TemporaryFile {
public:
    ~TemporaryFile() {
        if (!name.empty()) unlink(name.c_str());
    }
    // A new empty file beside target with the given mode.
    bool Make(const std::string& target, mode_t mode) {
        std::vector<char> pattern(target.begin(), target.end());
        const char suffix[] = ".XXXXXX";
        pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);
        const int fd = mkstemp(pattern.data());
        if (fd < 0) return false;
        name = pattern.data();
        const bool ok = fchmod(fd, mode) == 0;
        return close(fd) == 0 && ok;
    }
    void Keep() { name.clear(); }
    std::string name;
};

}  // namespace

bool ReplaceFile(const char* target, const char* streamName, const std::vector<char>& stream,
                 CompoundFile& document) {
    if (document.IsOpen()) document.Close();
    if (target == nullptr || target[0] == 0 || streamName == nullptr) return false;

    std::string resolved;
    struct stat old;
    bool exists = false;
    if (!ResolveTarget(target, resolved, old, exists)) return false;

    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    TemporaryFile temporary;
    if (!temporary.Make(resolved, mode)) return false;
    if (exists && chown(temporary.name.c_str(), old.st_uid, old.st_gid) != 0) {
        // Not permitted to keep the owner: the new file is the writer's own.
    }

    bool ok = document.Create(temporary.name.c_str()) && document.MakeFile(streamName) == kDone &&
              document.WriteFile(streamName, stream, stream.size()) == kDone;
    document.Close();
    if (!ok) return false;

    // Trust nothing that was not read back.
    std::vector<char> check;
    ok = document.Open(temporary.name.c_str(), std::ios_base::in) &&
         document.ReadFile(streamName, check) == kDone && check == stream;
    document.Close();
    if (!ok || !SyncFile(temporary.name.c_str(), O_RDONLY)) return false;

    if (rename(temporary.name.c_str(), resolved.c_str()) != 0) return false;
    temporary.Keep();
    // The rename itself lasts once the directory is on disk.
    const std::string::size_type slash = resolved.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : resolved.substr(0, slash));
    SyncFile(directory.c_str(), O_RDONLY | O_DIRECTORY);
    return true;
}

}  // namespace CompoundFiles
