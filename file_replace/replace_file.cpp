#include "file_replace/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// The rename itself lasts once the folder is on disk. Some file systems
// cannot sync a folder; the rename stands all the same.
void SyncFolder(const std::string& file) {
    const std::string::size_type slash = file.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    if (fsync(fd) == 0 && seams.folderSynced != nullptr) seams.folderSynced(folder);
    close(fd);
}

}  // namespace

bool ReplaceFile(const std::string& path, const WriteContents& write, Outcome& outcome) {
    using Step = Outcome::Step;
    outcome = Outcome();
    Target target;
    if (!FindTarget(path, target, outcome)) return false;

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

    if (inPlace) {
        // A crash during the copy must not lose the whole new file's name.
        SyncFolder(temporary.name);
        if (CopyInPlace(temporary.fd, target, outcome)) return true;
        if (outcome.failure == Outcome::Failure::CopyFailed) {
            outcome.keptCopy = temporary.name;
            temporary.Keep();
        }
        return false;
    }
    if (const int error = temporary.Close()) return Fail(outcome, Step::Write, error);
    if (rename(temporary.name.c_str(), target.name.c_str()) != 0) return Fail(outcome, Step::Rename, errno);
    temporary.Keep();
    SyncFolder(target.name);
    return true;
}

bool ReplaceFile(const std::string& path, const void* bytes, std::size_t size, Outcome& outcome) {
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
        outcome);
}

}  // namespace FileReplace
