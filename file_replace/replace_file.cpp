#include "file_replace/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "file_replace/attributes.h"
#include "file_replace/copy_in_place.h"
#include "file_replace/seams.h"
#include "file_replace/target.h"
#include "file_replace/temporary_file.h"

namespace FileReplace {

Seams seams;

namespace {

bool Fail(Outcome& outcome, Outcome::Step step, int error) {
    outcome.failure = Outcome::Failure::Failed;
    outcome.step = step;
    outcome.error = error;
    return false;
}

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void Synced(const std::string& name) {
    if (seams.synced != nullptr) seams.synced(name);
}

// The rename itself lasts once the folder is on disk. A folder its owner may
// write but not read cannot be opened to be synced: the whole file system
// holding `fd`, a file in it, is synced instead. Some file systems cannot
// sync a folder; the rename stands all the same.
void SyncFolder(const std::string& file, int fd) {
    const std::string::size_type slash = file.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
    const int opened = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) {
        if (errno == EACCES && syncfs(fd) == 0) Synced(folder);
        return;
    }
    if (fsync(opened) == 0) Synced(folder);
    close(opened);
}

// Puts the whole new file under a name that nothing has, and never over a
// file another save put there meanwhile. Where the file system refuses such
// a rename, a second link is made, which fails where the name is taken, and
// the temporary's name removed (a kill between the two leaves it beside the
// file as a second link to it). Returns 0, or the errno: EEXIST where the
// name is taken.
int PutNew(const std::string& from, const std::string& to) {
    const int renamed = seams.renameNoReplace != nullptr
                            ? seams.renameNoReplace(from.c_str(), to.c_str())
                            : renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (renamed == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (link(from.c_str(), to.c_str()) != 0) return errno;
    unlink(from.c_str());
    return 0;
}

}  // namespace

bool ReplaceFile(const std::string& path, const WriteContents& write, Outcome& outcome, Existing existing) {
    using Step = Outcome::Step;
    outcome = Outcome();
    Target target;
    if (!FindTarget(path, target, outcome)) return false;
    if (target.exists && existing == Existing::Keep) {
        outcome.failure = Outcome::Failure::NameTaken;
        outcome.step = Step::Examine;
        return false;
    }

    TemporaryFile temporary;
    bool ownerKept = true;
    if (const int error = temporary.Make(target.name, target.exists ? &target.info : nullptr, ownerKept))
        return Fail(outcome, Step::Create, error);
    bool inPlace = target.exists && (!ownerKept || target.info.st_nlink > 1);

    const int written = write(temporary.fd, temporary.name);
    if (written != 0) return Fail(outcome, Step::Write, written > 0 ? written : 0);
    // The mode after the contents: a write by a user without the right to
    // keep set-id bits clears them. The owner first, which clears them too.
    if (fchmod(temporary.fd, target.exists ? target.info.st_mode & 07777 : NewFileMode()) != 0)
        return Fail(outcome, Step::Create, errno);
    // Attributes this user may not give the new file are kept by writing
    // into the old one.
    if (target.exists && !inPlace) {
        const auto copy = seams.copyAttributes != nullptr ? seams.copyAttributes : CopyAttributes;
        if (copy(target.name, temporary.fd) != 0) inPlace = true;
    }
    if (fsync(temporary.fd) != 0) return Fail(outcome, Step::Write, errno);
    Synced(temporary.name);

    if (inPlace) {
        // A crash during the copy must not lose the whole new file's name.
        SyncFolder(temporary.name, temporary.fd);
        if (CopyInPlace(temporary.fd, target, outcome)) return true;
        if (outcome.failure == Outcome::Failure::CopyFailed) {
            outcome.keptCopy = temporary.name;
            temporary.Keep();
        }
        return false;
    }
    if (!target.exists) {
        if (const int error = PutNew(temporary.name, target.name)) {
            Fail(outcome, Step::Rename, error);
            if (error == EEXIST) outcome.failure = Outcome::Failure::NameTaken;
            return false;
        }
    } else if (rename(temporary.name.c_str(), target.name.c_str()) != 0) {
        return Fail(outcome, Step::Rename, errno);
    }
    temporary.Keep();
    // Still open, for a folder that can be synced only with its file system.
    SyncFolder(target.name, temporary.fd);
    return true;
}

bool ReplaceFile(const std::string& path, const void* bytes, std::size_t size, Outcome& outcome, Existing existing) {
    return ReplaceFile(
        path,
        [&](int fd, const std::string&) {
            const char* data = static_cast<const char*>(bytes);
            for (std::size_t left = size; left > 0;) {
                const ssize_t n = ::write(fd, data, left);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return n < 0 ? errno : -1;
                data += n;
                left -= static_cast<std::size_t>(n);
            }
            return 0;
        },
        outcome, existing);
}

}  // namespace FileReplace
