// Narrow (multibyte) path forms: each converts its path and calls the wide
// operation's implementation.
#include "compound_file/compound_file.h"

#include <algorithm>

#include "compound_file/path_text.h"

namespace CompoundFiles {

int CompoundFile::ChangeDirectory(const char* path) {
    if (!IsOpen()) return kFileError;
    return ChangeDirectoryTo(NarrowToUtf16(path));
}

int CompoundFile::MakeDirectory(const char* path) { return MakeEntry(NarrowToUtf16(path), kTypeStorage); }
int CompoundFile::MakeFile(const char* path) { return MakeEntry(NarrowToUtf16(path), kTypeStream); }
int CompoundFile::RemoveDirectory(const char* path) { return RemoveDirectoryAt(NarrowToUtf16(path)); }
int CompoundFile::DelTree(const char* path) { return DelTreeAt(NarrowToUtf16(path)); }
int CompoundFile::RemoveFile(const char* path) { return RemoveFileAt(NarrowToUtf16(path)); }
int CompoundFile::FileSize(const char* path, std::uint64_t& size) { return FileSizeAt(NarrowToUtf16(path), size); }

int CompoundFile::PresentWorkingDirectory(std::vector<char>& path) {
    path.clear();
    std::vector<wchar_t> wide;
    const int code = PresentWorkingDirectory(wide);
    if (code != kDone) return code;
    path = WideToNarrow(wide);
    path.push_back('\0');
    return kDone;
}

int CompoundFile::PresentWorkingDirectory(char* buffer, std::size_t capacity) {
    std::vector<char> path;
    const int code = PresentWorkingDirectory(path);
    if (code != kDone) return code;
    if (buffer == nullptr || capacity < path.size()) return kBufferTooSmall;
    std::copy(path.begin(), path.end(), buffer);
    return kDone;
}

int CompoundFile::ReadFile(const char* path, std::vector<unsigned char>& data) {
    return ReadFileAt(NarrowToUtf16(path), data);
}

int CompoundFile::ReadFile(const char* path, std::vector<char>& data) {
    std::vector<unsigned char> bytes;
    const int code = ReadFileAt(NarrowToUtf16(path), bytes);
    data.assign(bytes.begin(), bytes.end());
    return code;
}

int CompoundFile::ReadFile(const char* path, unsigned char* buffer, std::size_t capacity) {
    std::vector<unsigned char> bytes;
    const int code = ReadFileAt(NarrowToUtf16(path), bytes);
    if (code != kDone) return code;
    if (bytes.size() > capacity || (buffer == nullptr && !bytes.empty())) return kBufferTooSmall;
    std::copy(bytes.begin(), bytes.end(), buffer);
    return kDone;
}

int CompoundFile::ReadFile(const char* path, char* buffer, std::size_t capacity) {
    return ReadFile(path, reinterpret_cast<unsigned char*>(buffer), capacity);
}

int CompoundFile::WriteFile(const char* path, const unsigned char* data, std::size_t size) {
    if (data == nullptr && size != 0) return kBufferTooSmall;
    return WriteFileAt(NarrowToUtf16(path), data, size);
}

int CompoundFile::WriteFile(const char* path, const char* data, std::size_t size) {
    return WriteFile(path, reinterpret_cast<const unsigned char*>(data), size);
}

int CompoundFile::WriteFile(const char* path, const std::vector<unsigned char>& data, std::size_t size) {
    if (size > data.size()) return kBufferTooSmall;
    return WriteFileAt(NarrowToUtf16(path), data.data(), size);
}

int CompoundFile::WriteFile(const char* path, const std::vector<char>& data, std::size_t size) {
    if (size > data.size()) return kBufferTooSmall;
    return WriteFileAt(NarrowToUtf16(path), reinterpret_cast<const unsigned char*>(data.data()), size);
}

}  // namespace CompoundFiles
