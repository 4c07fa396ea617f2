#pragma once
// Shared helpers of the compound-file tests: scratch files and a view of the
// document's internals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compound_file/compound_file.h"

namespace cftest {

// A scratch file named after the running test, removed when it goes.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& tag = "") {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::filesystem::path dir = std::filesystem::temp_directory_path() / "orvan_cf_tests";
        std::filesystem::create_directories(dir);
        path_ = (dir / (std::string(info->test_suite_name()) + "." + info->name() + tag + "." +
                        std::to_string(::getpid()) + ".bin"))
                    .string();
    }
    ~ScratchFile() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    const char* c_str() const { return path_.c_str(); }
    std::wstring wide() const { return std::wstring(path_.begin(), path_.end()); }

    std::vector<unsigned char> Bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void SetBytes(const std::vector<unsigned char>& b) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    std::uint64_t Size() const { return std::filesystem::file_size(path_); }

private:
    std::string path_;
};

inline std::vector<unsigned char> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<unsigned char> v(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v[i] = static_cast<unsigned char>(x >> 24);
    }
    return v;
}

inline std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline void PutU32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Exposes what the storage engine keeps, so tests can check block numbers.
class Probe : public CompoundFiles::CompoundFile {
public:
    using CompoundFile::AllocateBlock;
    using CompoundFile::ChainBlocks;
    using CompoundFile::ReadData;
    using CompoundFile::Relink;
    using CompoundFile::SplitPath;
    using CompoundFile::WriteData;
    const std::vector<std::int32_t>& Bat() const { return bat_; }
    const std::vector<std::int32_t>& Sbat() const { return sbat_; }
    const std::vector<std::uint64_t>& BatSectors() const { return batSectors_; }
    const std::vector<std::uint64_t>& DifatSectors() const { return difatSectors_; }
    const std::vector<std::uint64_t>& SbatSectors() const { return sbatSectors_; }
    const CompoundFiles::CompoundFileHeader& Header() const { return header_; }
    std::size_t EntryCount() const { return entries_.size(); }
    const CompoundFiles::DirectoryEntry& Entry(std::size_t i) const { return *entries_[i]; }
    std::u16string EntryName(std::size_t i) const {
        return std::u16string(reinterpret_cast<const char16_t*>(entries_[i]->name), entries_[i]->NameLength());
    }
    std::vector<std::uint64_t> Chain(std::int32_t start, bool big) const {
        std::vector<std::uint64_t> c;
        ChainBlocks(static_cast<std::uint64_t>(static_cast<std::int64_t>(start)), c, big);
        return c;
    }
    // Index of the entry named `name` (first match), or -1.
    int Find(const std::u16string& name) const {
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (EntryName(i) == name) return static_cast<int>(i);
        return -1;
    }
};

}  // namespace cftest
