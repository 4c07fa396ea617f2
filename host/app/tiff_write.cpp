#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "file_replace/file_lock.h"
#include "file_replace/replace_file.h"
#include "host/app/tiff_handle.h"
#include "host/app/tiff_io.h"

namespace orvanhost {

namespace {

using FileReplace::Outcome;

// Writes the image as a 32-bit float TIFF into fd (left open); 0, or the
// errno of the failure (-1 where there is none).
int WriteImage(int fd, const std::string& name, uint32_t width, uint32_t height, const float* pixels) {
    // libtiff closes the descriptor it is given.
    const int own = dup(fd);
    if (own < 0) return errno;
    TiffHandle tif(TIFFFdOpen(own, name.c_str(), "w"));
    if (!tif) {
        const int cause = errno;
        close(own);
        return cause != 0 ? cause : -1;
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
    // libtiff says only that a write failed; the cause is the errno its
    // last system call left.
    errno = 0;
    bool ok = true;
    for (uint32_t y = 0; y < height && ok; ++y) {
        std::memcpy(row.data(), pixels + static_cast<size_t>(y) * width, width * sizeof(float));
        ok = TIFFWriteScanline(tif.get(), row.data(), y, 0) >= 0;
    }
    ok = ok && TIFFFlush(tif.get());
    const int cause = errno;
    if (!ok) return cause != 0 ? cause : -1;
    return 0;
}

// What a failed save says after "cannot write image file ...: ".
std::string Why(const Outcome& outcome) {
    switch (outcome.failure) {
        case Outcome::Failure::DanglingLink: return "it is a symbolic link that names no file; it was left unchanged";
        case Outcome::Failure::NotRegular: return "it is not a regular file";
        case Outcome::Failure::NotWritable:
            return outcome.error == EROFS ? "read-only file system" : "permission denied";
        case Outcome::Failure::CopyFailed: {
            const std::string cause = FileReplace::NamedCause(outcome);
            return "write failed part of the way" + (cause.empty() ? "" : " (" + cause + ")") +
                   "; the whole image is in \"" + outcome.keptCopy + "\"";
        }
        case Outcome::Failure::None:
        case Outcome::Failure::NameTaken:
        case Outcome::Failure::Failed: break;
    }
    const std::string cause = FileReplace::NamedCause(outcome);
    if (!cause.empty()) return cause;
    switch (outcome.step) {
        case Outcome::Step::Write:
        case Outcome::Step::Reserve:
        case Outcome::Step::Copy: return "write failed";
        case Outcome::Step::OpenOld: return "cannot open the file for writing";
        case Outcome::Step::Rename: return "cannot replace the file";
        default: return "cannot create the file";
    }
}

}  // namespace

// Saves of one image take turns (its lock held around the replace), as
// exports of one workbook do: two copies into a file with two links would
// otherwise mix. A new image that another save put in place meanwhile is
// replaced as any file is, holding its lock.
void WriteTiff(const std::string& path, uint32_t width, uint32_t height, const float* pixels,
               const std::function<void(const std::string&)>& results) {
    static QuietLibtiff quiet;
    const std::string named = "cannot write image file \"" + path + "\": ";
    if (width == 0 || height == 0) throw std::runtime_error(named + "the image is empty");
    const FileReplace::FileLock::Waiting waiting = [&](pid_t holder) {
        if (results) results("SaveImage " + FileReplace::WaitingFor(path, holder) + "\n");
    };
    for (;;) {
        FileReplace::FileLock lock;
        // What the lock cannot be taken on, the replace refuses in its own words.
        const FileReplace::FileLock::State state = lock.Acquire(path.c_str(), waiting);
        if (state == FileReplace::FileLock::State::NoLocks)
            throw std::runtime_error(named + "it cannot be locked (" + FileReplace::NamedCause(lock.error()) +
                                     "); it was left unchanged");
        Outcome outcome;
        if (FileReplace::ReplaceFile(
                path, [&](int fd, const std::string& name) { return WriteImage(fd, name, width, height, pixels); },
                outcome,
                state == FileReplace::FileLock::State::Absent ? FileReplace::Existing::Keep
                                                              : FileReplace::Existing::Replace))
            return;
        if (outcome.failure != Outcome::Failure::NameTaken) throw std::runtime_error(named + Why(outcome));
    }
}

}  // namespace orvanhost
