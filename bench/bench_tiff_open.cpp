// Peak memory and time of opening a TIFF into a host image, as OpenImage
// does, each open in a child of its own so that its peak is its own:
//   damaged.tif  5 KB of deflate declaring 16384 x 16384 bytes, whose first
//                row decodes and whose rest is missing (refused)
//   whole.tif    8192 x 8192 bytes, deflate, strips of 64 rows
//   floats.tif   8192 x 8192 floats, uncompressed, one strip
//   turned.tif   whole.tif's pixels stored with Orientation 6 (turned 90 degrees)
//
//   bench_tiff_open [DIR]
//
// Writes the files into DIR (kept there, so that another build's orvanhost
// can open the same files) or a temporary folder (removed), then prints per
// file the peak resident memory of the child in MB, the time in ms and
// what the open said.

#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/app/image.h"
#include "host/app/tiff_io.h"

namespace {

TIFF* Begin(const std::string& path, uint32_t side, uint16_t bits, uint16_t format, uint16_t compression,
            uint32_t rows_per_strip) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return nullptr;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    return t;
}

bool WriteFiles(const std::string& dir) {
    const uint32_t side = 8192;
    // One row of 16384 bytes, then the file ends: the strip declares the
    // whole image and holds one row.
    TIFF* t = Begin(dir + "/damaged.tif", 16384, 8, SAMPLEFORMAT_UINT, COMPRESSION_ADOBE_DEFLATE, 16384);
    if (!t) return false;
    std::vector<uint8_t> row(16384);
    uint32_t noise = 1;
    for (uint8_t& v : row) {
        noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
        v = uint8_t((noise >> 30) * 85);  // four levels: about 5 KB deflated
    }
    if (TIFFWriteScanline(t, row.data(), 0, 0) < 0) return false;
    TIFFClose(t);

    for (const char* name : {"whole", "turned"}) {
        t = Begin(dir + "/" + name + ".tif", side, 8, SAMPLEFORMAT_UINT, COMPRESSION_ADOBE_DEFLATE, 64);
        if (!t) return false;
        if (name[0] == 't') TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP);
        row.resize(side);
        for (uint32_t y = 0; y < side; ++y) {
            for (uint32_t x = 0; x < side; ++x) row[x] = uint8_t(x ^ y);
            if (TIFFWriteScanline(t, row.data(), y, 0) < 0) return false;
        }
        TIFFClose(t);
    }

    t = Begin(dir + "/floats.tif", side, 32, SAMPLEFORMAT_IEEEFP, COMPRESSION_NONE, side);
    if (!t) return false;
    std::vector<float> floats(side);
    for (uint32_t y = 0; y < side; ++y) {
        for (uint32_t x = 0; x < side; ++x) floats[x] = float(x) * 0.5f + float(y);
        if (TIFFWriteScanline(t, floats.data(), y, 0) < 0) return false;
    }
    TIFFClose(t);
    return true;
}

// Opens the file in a child; its peak resident memory in MB, or -1.
double Open(const std::string& path, double& ms, std::string& said) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_fds[0]);
        std::string text = "read";
        const auto t0 = std::chrono::steady_clock::now();
        try {
            orvanhost::ImagePtr image;
            const std::string note = orvanhost::ReadTiff(path, [&](uint32_t w, uint32_t h) {
                image = orvanhost::MakeImage("bench", orvanhost::DataType::Real4, {w, h});
                return static_cast<float*>(image->Data());
            });
            if (!note.empty()) text += "; " + note;
        } catch (const std::exception& e) {
            text = e.what();
        }
        const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        text = std::to_string(elapsed) + " " + text;
        if (write(pipe_fds[1], text.data(), text.size()) < 0) _exit(2);
        _exit(0);
    }
    close(pipe_fds[1]);
    char buffer[4096];
    std::string got;
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) got.append(buffer, size_t(n));
    close(pipe_fds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    const size_t space = got.find(' ');
    ms = std::atof(got.substr(0, space).c_str());
    said = space == std::string::npos ? "" : got.substr(space + 1);
    return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const bool keep = argc > 1;
    std::string dir =
        keep ? argv[1] : (fs::temp_directory_path() / ("bench_tiff_" + std::to_string(getpid()))).string();
    fs::create_directories(dir);
    // Written in a child, so that the writer's own memory is not counted in
    // the children of the opens.
    const pid_t writer = fork();
    if (writer == 0) _exit(WriteFiles(dir) ? 0 : 1);
    int status = 0;
    if (waitpid(writer, &status, 0) != writer || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cannot write the files in %s\n", dir.c_str());
        return 1;
    }
    std::printf("%-12s %10s %10s %9s  %s\n", "file", "bytes", "peak MB", "ms", "result");
    for (const char* name : {"damaged", "whole", "floats", "turned"}) {
        const std::string path = dir + "/" + name + ".tif";
        double ms = 0;
        std::string said;
        const double mb = Open(path, ms, said);
        std::printf("%-12s %10ju %10.1f %9.1f  %s\n", name, uintmax_t(fs::file_size(path)), mb, ms, said.c_str());
    }
    if (!keep) fs::remove_all(dir);
    return 0;
}
