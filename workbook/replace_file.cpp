#include "workbook/replace_file.h"

#include <fcntl.h>
#include <sys/file.h>
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

FileLock::State FileLock::Acquire(const char* name) {
    Release();
    if (name == nullptr || name[0] == 0) return State::Unlocked;
    path = name;
    for (;;) {
        struct stat named;
        if (stat(name, &named) != 0) {
            if (errno != ENOENT) return State::Unlocked;
            struct stat link;
            if (lstat(name, &link) == 0) {
                // A link to no file is left to the save, which refuses it;
                // anything else was made meanwhile.
                if (S_ISLNK(link.st_mode)) return State::Unlocked;
                continue;
            }
            fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST) continue;
                return State::Unlocked;
            }
            made = true;
        } else {
            // Not even opened: opening a FIFO for reading waits for a writer.
            if (!S_ISREG(named.st_mode)) return State::NotRegular;
            fd = open(name, O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                if (errno == ENOENT) continue;
                return State::Unlocked;
            }
        }
        struct stat held;
        const bool known = fstat(fd, &held) == 0;
        if (!known || !S_ISREG(held.st_mode)) {
            Release();
            return known ? State::NotRegular : State::Unlocked;
        }
        int locked;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            Release();
            return State::Unlocked;
        }
        // The writer before may have renamed a new file over the one locked
        // here while this one waited: then it is that file's turn.
        struct stat now;
        if (stat(name, &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino &&
            fstat(fd, &held) == 0)
            return held.st_size == 0 ? State::HeldEmpty : State::Held;
        Release();
    }
}

void FileLock::Release() {
    if (fd < 0) return;
    // A stand-in nothing was written to goes again, while it is still the
    // file at the path (other writers wait for the lock before replacing it).
    struct stat held;
    struct stat now;
    if (made && fstat(fd, &held) == 0 && held.st_size == 0 && stat(path.c_str(), &now) == 0 &&
        now.st_dev == held.st_dev && now.st_ino == held.st_ino)
        unlink(path.c_str());
    close(fd);
    fd = -1;
    made = false;
}

}  // namespace CompoundFiles
