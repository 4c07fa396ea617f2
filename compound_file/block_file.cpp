#include "compound_file/block_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace CompoundFiles {

namespace {

const std::ios_base::openmode kNoMode = std::ios_base::openmode();

// Converts a wide name to the narrow multibyte form, in full (a name whose
// narrow form is longer than the wide one is not cut). False when a
// character has no narrow form.
bool NarrowName(const wchar_t* wide, std::vector<char>& narrow) {
    if (wide == nullptr) return false;
    const std::size_t n = std::wcstombs(nullptr, wide, 0);
    if (n == static_cast<std::size_t>(-1)) return false;
    narrow.assign(n + 1, '\0');
    std::wcstombs(narrow.data(), wide, n);
    return true;
}

bool CopyName(const char* name, std::vector<char>& narrow) {
    if (name == nullptr) return false;
    narrow.assign(name, name + std::strlen(name) + 1);
    return true;
}

}  // namespace

BlockFile::BlockFile() : mode_(kNoMode), blockSize_(512), blockCount_(0), fileSize_(0) {}

bool BlockFile::Create(const wchar_t* filename) {
    std::vector<char> narrow;
    if (!NarrowName(filename, narrow)) return false;
    return Create(narrow.data());
}

bool BlockFile::Create(const char* filename) {
    if (filename == nullptr) return false;
    if (stream_.is_open()) Close();
    stream_.open(filename, std::ios_base::out | std::ios_base::trunc | std::ios_base::binary);
    const bool made = stream_.is_open();
    stream_.close();
    stream_.clear();
    if (!made) return false;
    return Open(filename, std::ios_base::in | std::ios_base::out);
}

bool BlockFile::Open(const wchar_t* filename, std::ios_base::openmode mode) {
    std::vector<char> narrow;
    if (!NarrowName(filename, narrow)) return false;
    return OpenNarrow(narrow, mode);
}

bool BlockFile::Open(const char* filename, std::ios_base::openmode mode) {
    std::vector<char> narrow;
    if (!CopyName(filename, narrow)) return false;
    return OpenNarrow(narrow, mode);
}

bool BlockFile::OpenNarrow(const std::vector<char>& name, std::ios_base::openmode mode) {
    if (stream_.is_open()) Close();
    // Only in and out decide what is allowed; trunc would empty the file.
    mode &= (std::ios_base::in | std::ios_base::out);
    if (mode == kNoMode) return false;
    name_ = name;
    stream_.open(name_.data(), mode | std::ios_base::binary);
    if (!stream_.is_open()) {
        stream_.clear();
        name_.clear();
        return false;
    }
    mode_ = mode;
    if (CanRead()) {
        stream_.seekg(0, std::ios_base::end);
        const std::streamoff end = stream_.tellg();
        fileSize_ = end < 0 ? 0 : static_cast<std::uint64_t>(end);
    } else {
        stream_.seekp(0, std::ios_base::end);
        const std::streamoff end = stream_.tellp();
        fileSize_ = end < 0 ? 0 : static_cast<std::uint64_t>(end);
    }
    stream_.clear();
    UpdateCounts();
    return true;
}

void BlockFile::UpdateCounts() { blockCount_ = fileSize_ / blockSize_ + (fileSize_ % blockSize_ != 0 ? 1 : 0); }

bool BlockFile::Close() {
    stream_.close();
    stream_.clear();
    name_.clear();
    mode_ = kNoMode;
    fileSize_ = 0;
    blockCount_ = 0;
    blockSize_ = 512;
    return !stream_.is_open();
}

bool BlockFile::IsOpen() const { return stream_.is_open(); }

void BlockFile::SetBlockSize(std::uint64_t size) {
    if (size == 0) return;
    blockSize_ = size;
    UpdateCounts();
}

bool BlockFile::Reopen() {
    stream_.close();
    stream_.clear();
    stream_.open(name_.data(), mode_ | std::ios_base::binary);
    return stream_.is_open();
}

bool BlockFile::Read(std::uint64_t index, unsigned char* buffer) { return ReadRun(index, 1, buffer); }

bool BlockFile::ReadRun(std::uint64_t index, std::uint64_t count, unsigned char* buffer) {
    if (!CanRead() || !stream_.is_open()) return false;
    if (index >= blockCount_ || count > blockCount_ - index) return false;
    const std::uint64_t offset = index * blockSize_;
    const std::uint64_t wanted = count * blockSize_;
    // The last block may be short; the bytes past the end read as zeros.
    const std::uint64_t present = std::min<std::uint64_t>(wanted, fileSize_ - offset);
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset), std::ios_base::beg);
    stream_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(present));
    const bool ok = !stream_.fail() && static_cast<std::uint64_t>(stream_.gcount()) == present;
    stream_.clear();
    if (!ok) return false;
    std::memset(buffer + present, 0, wanted - present);
    return true;
}

bool BlockFile::Write(std::uint64_t index, const unsigned char* buffer) { return WriteRun(index, 1, buffer); }

bool BlockFile::WriteRun(std::uint64_t index, std::uint64_t count, const unsigned char* buffer) {
    if (!CanWrite() || !stream_.is_open()) return false;
    if (count == 0) return true;
    stream_.clear();
    stream_.seekp(static_cast<std::streamoff>(index * blockSize_), std::ios_base::beg);
    stream_.write(reinterpret_cast<const char*>(buffer), static_cast<std::streamsize>(count * blockSize_));
    // Flushing puts everything written so far on disk before the next step.
    stream_.flush();
    const bool ok = !stream_.fail();
    stream_.clear();
    if (index + count > blockCount_) blockCount_ = index + count;
    fileSize_ = std::max(fileSize_, (index + count) * blockSize_);
    return ok;
}

bool BlockFile::Swap(std::uint64_t a, std::uint64_t b) {
    if (!CanWrite() || a >= blockCount_ || b >= blockCount_) return false;
    if (a == b) return true;
    std::vector<unsigned char> ba(blockSize_), bb(blockSize_);
    if (!Read(a, ba.data()) || !Read(b, bb.data())) return false;
    return Write(a, bb.data()) && Write(b, ba.data());
}

bool BlockFile::Move(std::uint64_t from, std::uint64_t to) {
    if (!CanWrite() || from >= blockCount_ || to >= blockCount_) return false;
    if (from == to) return true;
    // Same result as swapping the block step by step towards `to`, in one
    // read and one write of the range.
    const std::uint64_t low = std::min(from, to), high = std::max(from, to);
    const std::uint64_t n = high - low + 1;
    std::vector<unsigned char> range(n * blockSize_);
    if (!ReadRun(low, n, range.data())) return false;
    if (from > to)
        std::rotate(range.begin(), range.end() - static_cast<std::ptrdiff_t>(blockSize_), range.end());
    else
        std::rotate(range.begin(), range.begin() + static_cast<std::ptrdiff_t>(blockSize_), range.end());
    return WriteRun(low, n, range.data());
}

bool BlockFile::Insert(std::uint64_t index, const unsigned char* buffer) {
    if (!CanWrite()) return false;
    if (index > blockCount_) return Write(index, buffer);
    const std::uint64_t last = blockCount_;
    if (!Write(last, buffer)) return false;
    if (index >= last) return true;
    return Move(last, index);
}

bool BlockFile::Erase(std::uint64_t index) {
    if (!CanWrite() || index >= blockCount_) return false;
    return Erase(std::vector<std::uint64_t>{index});
}

bool BlockFile::Erase(const std::vector<std::uint64_t>& indices) {
    if (!CanWrite() || !CanRead()) return false;
    std::vector<bool> cut(blockCount_, false);
    std::uint64_t removed = 0;
    for (std::uint64_t i : indices) {
        if (i >= blockCount_) return false;
        if (!cut[i]) {
            cut[i] = true;
            ++removed;
        }
    }
    if (removed == 0) return true;
    std::vector<unsigned char> all(blockCount_ * blockSize_);
    if (!ReadRun(0, blockCount_, all.data())) return false;
    std::vector<unsigned char> kept;
    kept.reserve((blockCount_ - removed) * blockSize_);
    for (std::uint64_t i = 0; i < blockCount_; ++i)
        if (!cut[i])
            kept.insert(kept.end(), all.begin() + static_cast<std::ptrdiff_t>(i * blockSize_),
                        all.begin() + static_cast<std::ptrdiff_t>((i + 1) * blockSize_));
    return Rewrite(kept);
}

bool BlockFile::Rewrite(const std::vector<unsigned char>& content) {
    stream_.close();
    stream_.clear();
    stream_.open(name_.data(), std::ios_base::out | std::ios_base::trunc | std::ios_base::binary);
    bool ok = stream_.is_open();
    if (ok) {
        stream_.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        stream_.flush();
        ok = !stream_.fail();
    }
    fileSize_ = content.size();
    UpdateCounts();
    return Reopen() && ok;
}

}  // namespace CompoundFiles
