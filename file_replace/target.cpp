#include "file_replace/target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace FileReplace {

namespace {

bool Refuse(Outcome& outcome, Outcome::Failure failure, int error) {
    outcome.failure = failure;
    outcome.step = Outcome::Step::Examine;
    outcome.error = error;
    return false;
}

}  // namespace

bool FindTarget(const std::string& path, Target& target, Outcome& outcome) {
    target = Target();
    target.name = path;
    if (path.empty()) return Refuse(outcome, Outcome::Failure::Failed, ENOENT);
    struct stat link;
    if (lstat(path.c_str(), &link) != 0) {
        if (errno == ENOENT) {
            outcome.nothingThere = true;
            return true;
        }
        return Refuse(outcome, Outcome::Failure::Failed, errno);
    }
    if (S_ISLNK(link.st_mode)) {
        char* real = realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            if (errno == ENOENT) return Refuse(outcome, Outcome::Failure::DanglingLink, 0);
            return Refuse(outcome, Outcome::Failure::Failed, errno);
        }
        target.name = real;
        std::free(real);
        if (stat(target.name.c_str(), &target.info) != 0) return Refuse(outcome, Outcome::Failure::Failed, errno);
    } else {
        target.info = link;
    }
    target.exists = true;
    if (!S_ISREG(target.info.st_mode)) {
        outcome.kind = target.info.st_mode;
        return Refuse(outcome, Outcome::Failure::NotRegular, 0);
    }
    if (faccessat(AT_FDCWD, target.name.c_str(), W_OK, AT_EACCESS) != 0) {
        const int error = errno;
        const bool denied = error == EACCES || error == EPERM || error == EROFS;
        return Refuse(outcome, denied ? Outcome::Failure::NotWritable : Outcome::Failure::Failed, error);
    }
    return true;
}

}  // namespace FileReplace
