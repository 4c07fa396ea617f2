#pragma once
// One 128-byte directory entry.
#include <cstdint>

namespace CompoundFiles {

constexpr std::uint8_t kTypeEmpty = 0;
constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;
constexpr std::uint8_t kColourRed = 0;
constexpr std::uint8_t kColourBlack = 1;
constexpr std::int32_t kNoEntry = -1;
constexpr std::uint32_t kEntrySize = 128;
constexpr std::uint32_t kNameUnits = 32;  // including the terminating zero

struct DirectoryEntry {
    std::uint16_t name[kNameUnits];  // UTF-16 code units, zero-terminated, zero-padded
    std::uint16_t nameSize;          // bytes, terminator included
    std::uint8_t type;
    std::uint8_t colour;
    std::int32_t leftSibling;
    std::int32_t rightSibling;
    std::int32_t child;
    std::uint32_t classId[4];
    std::uint32_t stateBits;
    std::uint32_t creationTime[2];
    std::uint32_t modificationTime[2];
    std::int32_t startBlock;
    std::uint32_t size;

    // A new entry: storage, black, no links, no data.
    DirectoryEntry();

    // Encodes bytes 0 to 123 into buffer; bytes 124-127 are left untouched.
    void Write(unsigned char* buffer) const;
    // Decodes bytes 0 to 123 of buffer.
    void Read(const unsigned char* buffer);

    // Number of code units before the first zero (32 when there is none).
    std::uint32_t NameLength() const;
};

}  // namespace CompoundFiles
