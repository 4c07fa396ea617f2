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
    // A new empty file beside target with the given mode and, when owner is
    // given, its owner and group; ownerKept tells whether they could be set.
    bool Make(const std::string& target, mode_t mode, const struct stat* owner, bool& ownerKept) {
        std::vector<char> pattern(target.begin(), target.end());
        const char suffix[] = ".XXXXXX";
        pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);
        const int fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) return false;
        name = pattern.data();
        // The owner first: a change of owner clears the set-id bits.
        ownerKept = owner == nullptr || fchown(fd, owner->st_uid, owner->st_gid) == 0;
        const bool ok = fchmod(fd, mode) == 0;
        return close(fd) == 0 && ok;
    }
    void Keep() { name.clear(); }
    std::string name;
};

ssize_t PlainWrite(int fd, const void* data, std::size_t size) { return write(fd, data, size); }

enum class Copy { NotStarted, Failed, Done };

// Reserves the room the open file `fd`, `size` bytes long, needs to grow to
// `wanted` bytes, so that a full disk is found before its first byte is
// overwritten. Where the file system cannot reserve, the copy goes on
// without. Returns NotStarted when the room is not there (the file has its
// old length again), Failed when even its old length could not be restored.
Copy ReserveGrowth(int fd, off_t size, off_t wanted) {
    if (wanted <= size || fallocate(fd, 0, size, wanted - size) == 0) return Copy::Done;
    if (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS) return Copy::Done;
    // A reservation that ran out part of the way may have lengthened the
    // file already (ext4 keeps the blocks it got): put the old length back.
    struct stat now;
    const bool whole = fstat(fd, &now) == 0 && (now.st_size == size || ftruncate(fd, size) == 0);
    return whole ? Copy::NotStarted : Copy::Failed;
}

// Copies the file `from` over the file `to`, which must still be the file
// `old`, and cuts it to the new length: `to` keeps its owner, group, mode
// and links. NotStarted when `to` could not be opened, is another file by
// now, or has no room to grow: it is then as it was.
Copy CopyInPlace(const std::string& from, const std::string& to, const struct stat& old) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return Copy::NotStarted;
    if (beforeInPlaceOpen != nullptr) beforeInPlaceOpen(to);
    const int out = open(to.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat now;
    struct stat incoming;
    Copy room = Copy::NotStarted;
    if (out >= 0 && fstat(out, &now) == 0 && now.st_dev == old.st_dev && now.st_ino == old.st_ino &&
        fstat(in, &incoming) == 0)
        room = ReserveGrowth(out, now.st_size, incoming.st_size);
    if (room != Copy::Done) {
        if (out >= 0) close(out);
        close(in);
        return room;
    }
    std::vector<char> buffer(1 << 16);
    off_t total = 0;
    bool ok = true;
    while (ok) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = inPlaceWrite(out, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            ok = w > 0;
            if (ok) done += w;
        }
        total += n;
    }
    ok = ok && ftruncate(out, total) == 0 && fsync(out) == 0;
    close(in);
    ok = close(out) == 0 && ok;
    return ok ? Copy::Done : Copy::Failed;
}

}  // namespace

ssize_t (*inPlaceWrite)(int fd, const void* data, std::size_t size) = PlainWrite;
void (*beforeInPlaceOpen)(const std::string& target) = nullptr;

bool ReplaceFile(const char* target, const char* streamName, const std::vector<char>& stream, CompoundFile& document,
                 ReplaceOutcome* outcome) {
    ReplaceOutcome ignored;
    ReplaceOutcome& result = outcome != nullptr ? *outcome : ignored;
    result = ReplaceOutcome();
    result.failure = ReplaceOutcome::Failure::Failed;
    if (document.IsOpen()) document.Close();
    if (target == nullptr || target[0] == 0 || streamName == nullptr) return false;

    std::string resolved;
    struct stat old;
    bool exists = false;
    if (!ResolveTarget(target, resolved, old, exists)) {
        if (exists) result.failure = ReplaceOutcome::Failure::NotRegular;
        return false;
    }
    // Being able to write the folder is not enough: the system says whether
    // this user may write the file (the effective ids, ACLs, read-only
    // mounts).
    if (exists && faccessat(AT_FDCWD, resolved.c_str(), W_OK, AT_EACCESS) != 0) {
        if (errno == EACCES || errno == EPERM || errno == EROFS) result.failure = ReplaceOutcome::Failure::NotWritable;
        return false;
    }

    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    TemporaryFile temporary;
    bool ownerKept = true;
    if (!temporary.Make(resolved, mode, exists ? &old : nullptr, ownerKept)) return false;
    // Where the new file cannot have the old one's owner and group, or other
    // links share the old file, the whole new document is copied into the
    // old file instead of taking its place.
    const bool inPlace = exists && (!ownerKept || old.st_nlink > 1);

    bool ok = document.Create(temporary.name.c_str()) && document.MakeFile(streamName) == kDone &&
              document.WriteFile(streamName, stream, stream.size()) == kDone;
    document.Close();
    if (!ok) return false;

    // Trust nothing that was not read back.
    std::vector<char> check;
    ok = document.Open(temporary.name.c_str(), std::ios_base::in) && document.ReadFile(streamName, check) == kDone &&
         check == stream;
    document.Close();
    if (!ok || !SyncFile(temporary.name.c_str(), O_RDONLY)) return false;

    if (inPlace) {
        switch (CopyInPlace(temporary.name, resolved, old)) {
            case Copy::NotStarted: return false;
            case Copy::Failed:
                // The old file may be damaged: the new copy stays, whole.
                result.failure = ReplaceOutcome::Failure::CopyFailed;
                result.keptCopy = temporary.name;
                temporary.Keep();
                return false;
            case Copy::Done: break;
        }
        result.failure = ReplaceOutcome::Failure::None;
        return true;
    }

    if (rename(temporary.name.c_str(), resolved.c_str()) != 0) return false;
    temporary.Keep();
    // The rename itself lasts once the directory is on disk.
    const std::string::size_type slash = resolved.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : resolved.substr(0, slash));
    SyncFile(directory.c_str(), O_RDONLY | O_DIRECTORY);
    result.failure = ReplaceOutcome::Failure::None;
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
            if (faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0 &&
                (errno == EACCES || errno == EPERM || errno == EROFS))
                return State::NotWritable;
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
        if (stat(name, &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino && fstat(fd, &held) == 0)
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
