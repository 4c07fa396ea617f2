#include "host/app/tiff_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>

#include "host/app/tiff_handle.h"

namespace dmhost {

namespace {

// A new file beside another, removed again unless kept.
struct Temporary {
    std::string name;
    ~Temporary() {
        if (!name.empty()) unlink(name.c_str());
    }
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies the file `from` over `to` (opened for writing), then cuts `to` to
// its length.
bool CopyOver(const std::string& from, int to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    std::vector<char> buffer(1 << 16);
    off_t total = 0;
    bool ok = true;
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!WriteAll(to, buffer.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
        total += n;
    }
    close(in);
    return ok && ftruncate(to, total) == 0 && fsync(to) == 0;
}

}  // namespace

namespace {

using Failure = std::function<std::runtime_error(const std::string&)>;

// The file a write replaces: path itself, or the file a link at path names
// (the link stays). `exists` tells whether there is one; `old` is its status.
std::string ReplacedFile(const std::string& path, struct stat& old, bool& exists, const Failure& fail) {
    exists = stat(path.c_str(), &old) == 0;
    if (!exists) {
        // The new file would take the place of a link that names no file;
        // the workbook export refuses such a link with these words too.
        struct stat link;
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            throw fail("it is a symbolic link that names no file; it was left unchanged");
        return path;
    }
    if (!S_ISREG(old.st_mode)) throw fail("it is not a regular file");
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) throw fail("permission denied");
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) throw fail("cannot create the file");
    const std::string target = real;
    std::free(real);
    return target;
}

// A new file beside target with the old file's owner and mode (or the
// umask's for a new one); its descriptor. inPlace tells that the image must
// be copied into the old file instead of replacing it: the owner could not
// be kept, or other links share the old file.
int MakeTemporary(const std::string& target, const struct stat* old, Temporary& temporary, bool& inPlace,
                  const Failure& fail) {
    std::vector<char> pattern(target.begin(), target.end());
    const char suffix[] = ".XXXXXX";
    pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw fail("cannot create the file");
    temporary.name = pattern.data();
    inPlace = false;
    mode_t mode = 0;
    if (old != nullptr) {
        inPlace = old->st_nlink > 1 || fchown(fd, old->st_uid, old->st_gid) != 0;
        mode = old->st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd, mode) != 0) {
        close(fd);
        throw fail("cannot create the file");
    }
    return fd;
}

// Writes the image as a 32-bit float TIFF into fd (which libtiff closes) and
// syncs it.
void WriteImage(int fd, const std::string& name, uint32_t width, uint32_t height, const float* pixels,
                const Failure& fail) {
    const int sync = dup(fd);
    if (sync < 0) {
        close(fd);
        throw fail("cannot create the file");
    }
    {
        TiffHandle tif(TIFFFdOpen(fd, name.c_str(), "w"));
        if (!tif) {
            close(fd);
            close(sync);
            throw fail("cannot create the file");
        }
        TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 32);
        TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif.get(), TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
        TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif.get(), 0));
        std::vector<float> row(width);
        bool ok = true;
        for (uint32_t y = 0; y < height && ok; ++y) {
            std::memcpy(row.data(), pixels + static_cast<size_t>(y) * width, width * sizeof(float));
            ok = TIFFWriteScanline(tif.get(), row.data(), y, 0) >= 0;
        }
        if (!ok || !TIFFFlush(tif.get())) {
            close(sync);
            throw fail("write failed");
        }
    }
    const bool synced = fsync(sync) == 0;
    if (close(sync) != 0 || !synced) throw fail("write failed");
}

// Reserves the room the open file `fd`, `size` bytes long, needs to grow to
// `wanted` bytes, so that a full disk is found before its first byte is
// overwritten; true where the file system cannot reserve. False when the
// room is not there; `restored` then tells whether the file has its old
// length again.
bool ReserveGrowth(int fd, off_t size, off_t wanted, bool& restored) {
    restored = true;
    if (wanted <= size || fallocate(fd, 0, size, wanted - size) == 0) return true;
    if (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS) return true;
    // A reservation that ran out part of the way may have lengthened the
    // file already (ext4 keeps the blocks it got): put the old length back.
    struct stat now;
    restored = fstat(fd, &now) == 0 && (now.st_size == size || ftruncate(fd, size) == 0);
    return false;
}

// Copies the whole new image into the old file, which must still be the
// one at target, after reserving the room it grows by: a full disk found
// then leaves the old file as it was ("write failed"); a failure part of the
// way keeps the new image and names it.
void CopyIntoOld(const std::string& target, const struct stat& old, Temporary& temporary, const Failure& fail) {
    if (beforeCopyIntoOld != nullptr) beforeCopyIntoOld(target);
    const int out = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat now;
    if (out < 0 || fstat(out, &now) != 0 || now.st_dev != old.st_dev || now.st_ino != old.st_ino) {
        if (out >= 0) close(out);
        throw fail("cannot open the file for writing");
    }
    auto damaged = [&] {
        const std::string whole = temporary.name;
        temporary.name.clear();
        return fail("write failed part of the way; the whole image is in \"" + whole + "\"");
    };
    struct stat incoming;
    bool restored = true;
    if (stat(temporary.name.c_str(), &incoming) != 0 || !ReserveGrowth(out, now.st_size, incoming.st_size, restored)) {
        close(out);
        if (!restored) throw damaged();
        throw fail("write failed");
    }
    const bool copied = CopyOver(temporary.name, out);
    if (close(out) != 0 || !copied) throw damaged();
}

}  // namespace

void (*beforeCopyIntoOld)(const std::string& target) = nullptr;

// The image goes to a new file beside the old one, which is replaced only
// when the new one is whole: a full disk leaves the old image as it was.
void WriteTiff(const std::string& path, uint32_t width, uint32_t height, const float* pixels) {
    static QuietLibtiff quiet;
    const Failure fail = [&](const std::string& why) {
        return std::runtime_error("cannot write image file \"" + path + "\": " + why);
    };
    if (width == 0 || height == 0) throw fail("the image is empty");

    struct stat old;
    bool exists = false;
    const std::string target = ReplacedFile(path, old, exists, fail);
    Temporary temporary;
    bool inPlace = false;
    const int fd = MakeTemporary(target, exists ? &old : nullptr, temporary, inPlace, fail);
    WriteImage(fd, temporary.name, width, height, pixels, fail);
    if (inPlace) {
        CopyIntoOld(target, old, temporary, fail);
        return;
    }
    if (rename(temporary.name.c_str(), target.c_str()) != 0) throw fail("cannot replace the file");
    temporary.name.clear();
}

}  // namespace dmhost