#include "room_mount.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

std::string FindProgram(const std::string& name) {
    for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        const std::string path = dir + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

// Runs a program quietly; true when it exits 0.
bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Attaches `image` to a free loop device that frees itself when its last
// user (the mount) is gone; the open device, or -1 with errno.
int AttachLoop(const std::string& image, std::string& device) {
    const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    if (control < 0) return -1;
    const int backing = open(image.c_str(), O_RDWR | O_CLOEXEC);
    int fd = -1;
    for (int attempt = 0; backing >= 0 && fd < 0 && attempt < 16; ++attempt) {
        const int number = ioctl(control, LOOP_CTL_GET_FREE);
        if (number < 0) break;
        device = "/dev/loop" + std::to_string(number);
        fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) break;
        loop_config config;
        std::memset(&config, 0, sizeof config);
        config.fd = static_cast<unsigned>(backing);
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        if (ioctl(fd, LOOP_CONFIGURE, &config) != 0) {
            const int error = errno;
            close(fd);
            fd = -1;
            if (error != EBUSY) {  // another process took it first: try the next
                errno = error;
                break;
            }
        }
    }
    const int error = errno;
    if (backing >= 0) close(backing);
    close(control);
    errno = error;
    return fd;
}

void Unmount(const std::string& path) {
    if (umount2(path.c_str(), 0) != 0 && errno != EINVAL && errno != ENOENT) umount2(path.c_str(), MNT_DETACH);
}

}  // namespace

const char* KindName(ScratchKind kind) {
    switch (kind) {
        case ScratchKind::Tmpfs: return "tmpfs";
        case ScratchKind::Ext4: return "ext4";
        case ScratchKind::Ext2: return "ext2";
        case ScratchKind::Btrfs: return "btrfs";
        case ScratchKind::Xfs: return "xfs";
        case ScratchKind::OverlayExt4: return "overlay on ext4";
        case ScratchKind::OverlayBtrfs: return "overlay on btrfs";
    }
    return "?";
}

ScratchMount::ScratchMount(ScratchKind kind) {
    if (geteuid() != 0) {
        why_ = "mounting a file system needs root";
        return;
    }
    char pattern[] = "/tmp/room-mount-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        why_ = std::string("no scratch folder: ") + std::strerror(errno);
        return;
    }
    folder_ = pattern;
    path_ = folder_ + "/m";
    mkdir(path_.c_str(), 0755);
    const bool overlay = kind == ScratchKind::OverlayExt4 || kind == ScratchKind::OverlayBtrfs;
    const std::string base = overlay ? folder_ + "/under" : path_;
    if (overlay) mkdir(base.c_str(), 0755);
    bool made = false;
    switch (kind) {
        case ScratchKind::Tmpfs:
            made = mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=16m") == 0;
            if (!made) why_ = std::string("tmpfs cannot be mounted: ") + std::strerror(errno);
            break;
        case ScratchKind::Ext4:
        case ScratchKind::OverlayExt4: made = MakeOnLoop("ext4", 32 << 20, base); break;
        case ScratchKind::Ext2: made = MakeOnLoop("ext2", 32 << 20, base); break;
        case ScratchKind::Btrfs:
        case ScratchKind::OverlayBtrfs: made = MakeOnLoop("btrfs", 128 << 20, base); break;  // its least
        case ScratchKind::Xfs: made = MakeOnLoop("xfs", 320 << 20, base); break;             // its least is 300 MiB
    }
    if (made && overlay) {
        under_ = base;
        for (const char* d : {"/l", "/u", "/w"}) mkdir((base + d).c_str(), 0755);
        const std::string options = "lowerdir=" + base + "/l,upperdir=" + base + "/u,workdir=" + base + "/w";
        if (mount("overlay", path_.c_str(), "overlay", 0, options.c_str()) != 0)
            why_ = std::string("overlayfs cannot be mounted: ") + std::strerror(errno);
    }
}

bool ScratchMount::MakeOnLoop(const char* type, off_t size, const std::string& at) {
    const std::string mkfs = FindProgram(std::string("mkfs.") + type);
    if (mkfs.empty()) {
        why_ = std::string("mkfs.") + type + " is not installed";
        return false;
    }
    if (access("/dev/loop-control", W_OK) != 0) {
        why_ = "no loop devices here (/dev/loop-control)";
        return false;
    }
    const std::string image = folder_ + "/" + type + ".img";
    const int fd = open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ftruncate(fd, size) != 0) {
        why_ = std::string("no image file: ") + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    close(fd);
    std::vector<std::string> args = {mkfs, "-q"};
    if (std::strncmp(type, "ext", 3) == 0) {
        args.insert(args.end(), {"-F", "-m", "0"});  // no blocks kept for root: root sees what others see
    } else {
        args.push_back("-f");
    }
    args.push_back(image);
    if (!Run(args)) {
        why_ = mkfs + " failed";
        return false;
    }
    std::string device;
    const int loop = AttachLoop(image, device);
    if (loop < 0) {
        why_ = std::string("no loop device: ") + std::strerror(errno);
        return false;
    }
    const bool ok = mount(device.c_str(), at.c_str(), type, 0, nullptr) == 0;
    if (!ok) why_ = std::string(type) + " cannot be mounted: " + std::strerror(errno);
    close(loop);  // the mount holds it now; without one it frees itself
    return ok;
}

ScratchMount::~ScratchMount() {
    if (folder_.empty()) return;
    Unmount(path_);
    if (!under_.empty()) Unmount(under_);
    for (const char* name : {"/ext4.img", "/ext2.img", "/btrfs.img", "/xfs.img"}) unlink((folder_ + name).c_str());
    rmdir((folder_ + "/under").c_str());
    rmdir(path_.c_str());
    rmdir(folder_.c_str());
}

off_t ScratchMount::Free() const {
    const int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    syncfs(fd);
    struct statfs fs;
    const bool ok = fstatfs(fd, &fs) == 0;
    close(fd);
    return ok ? static_cast<off_t>(fs.f_bavail) * static_cast<off_t>(fs.f_bsize) : -1;
}

bool ScratchMount::LeaveFree(off_t bytes) {
    // File systems give a little less than asked for (metadata): a few rounds.
    for (int round = 0; round < 6; ++round) {
        const off_t free = Free();
        if (free < bytes) return round > 0;
        if (free - bytes < 64 * 1024) return true;
        const std::string filler = path_ + "/filler" + std::to_string(fillers_++);
        const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        int got = fallocate(fd, 0, 0, free - bytes);
        if (got != 0 && (errno == EOPNOTSUPP || errno == ENOSYS)) {  // ext2: written, then
            const std::vector<char> ones(1 << 20, 1);
            got = 0;
            for (off_t left = free - bytes; left > 0 && got == 0;) {
                const ssize_t n = write(fd, ones.data(), static_cast<std::size_t>(std::min<off_t>(left, 1 << 20)));
                if (n <= 0) got = -1;
                left -= n;
            }
            fsync(fd);
        }
        close(fd);
        if (got != 0 && errno != ENOSPC) return false;
    }
    return true;
}
