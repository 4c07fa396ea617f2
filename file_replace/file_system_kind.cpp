#include "file_replace/file_system_kind.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace FileReplace {

namespace {

constexpr long kBtrfs = 0x9123683E;
constexpr long kBcachefs = 0xca451a4e;
constexpr long kZfs = 0x2fc12fc1;
constexpr long kNilfs = 0x3434;
constexpr long kOverlay = 0x794c7630;

// mountinfo writes a space, tab, newline or backslash in a path, and
// overlayfs a comma or equals sign in an option, as \ and three octal digits.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3') {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The upper directory of the overlay mount that holds `fd`, or "".
std::string OverlayUpper(int fd) {
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
    std::string key, mountId;
    while (info >> key) {
        if (key == "mnt_id:") {
            info >> mountId;
            break;
        }
    }
    if (mountId.empty()) return "";
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string id;
        if (!(fields >> id) || id != mountId) continue;
        const std::size_t dash = line.find(" - ");
        if (dash == std::string::npos) return "";
        std::istringstream rest(line.substr(dash + 3));
        std::string type, source, options;
        rest >> type >> source >> options;
        std::istringstream list(options);
        for (std::string option; std::getline(list, option, ',');)
            if (option.rfind("upperdir=", 0) == 0) return Unescape(option.substr(9));
        return "";
    }
    return "";
}

}  // namespace

Placement WritesInPlace(int fd) {
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0) return Placement::CopyOnWrite;
    long type = static_cast<long>(fs.f_type);
    // An overlay writes into its upper layer, which may itself be an overlay.
    int layer = -1;
    for (int depth = 0; type == kOverlay && depth < 8; ++depth) {
        const std::string upper = OverlayUpper(layer >= 0 ? layer : fd);
        if (layer >= 0) close(layer);
        layer = upper.empty() ? -1 : open(upper.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (layer < 0 || fstatfs(layer, &fs) != 0) {
            if (layer >= 0) close(layer);
            return Placement::CopyOnWrite;
        }
        type = static_cast<long>(fs.f_type);
    }
    if (layer >= 0) close(layer);
    if (type == kOverlay || type == kBcachefs || type == kZfs || type == kNilfs) return Placement::CopyOnWrite;
    if (type != kBtrfs) return Placement::InPlace;
    int flags = 0;
    return ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_NOCOW_FL) != 0 ? Placement::InPlace
                                                                                 : Placement::CopyOnWrite;
}

}  // namespace FileReplace
