#pragma once
// The 512-byte document header and the allocation-table markers.
#include <cstdint>

namespace CompoundFiles {

// Allocation-table entries (block and small-block tables alike).
constexpr std::int32_t kFreeBlock = -1;
constexpr std::int32_t kEndOfChain = -2;  // also "no block" in start fields
constexpr std::int32_t kBatBlock = -3;    // sector holds allocation-table entries
constexpr std::int32_t kDifatBlock = -4;  // sector lists further table sectors

constexpr std::uint64_t kSignature = 0xE11AB1A1E011CFD0ULL;
constexpr std::uint32_t kHeaderBatSlots = 109;
constexpr std::uint32_t kSmallStreamCutoff = 4096;
constexpr std::uint32_t kHeaderSize = 512;

struct CompoundFileHeader {
    // Fields in disk order (offsets in bytes).
    std::uint64_t signature;                 // 0
    std::uint32_t classId[4];                // 8
    std::uint16_t minorVersion;              // 24
    std::uint16_t majorVersion;              // 26
    std::uint16_t byteOrder;                 // 28
    std::uint16_t blockShift;                // 30
    std::uint32_t smallBlockShift;           // 32: the 16-bit shift and two reserved bytes
    std::uint32_t reserved1;                 // 36
    std::uint32_t reserved2;                 // 40
    std::uint32_t batCount;                  // 44: allocation-table sectors in all
    std::int32_t directoryStart;             // 48
    std::uint32_t transactionSignature;      // 52
    std::uint32_t smallStreamCutoff;         // 56
    std::int32_t sbatStart;                  // 60
    std::uint32_t sbatCount;                 // 64
    std::int32_t xbatStart;                  // 68: first extension sector
    std::uint32_t xbatCount;                 // 72: number of extension sectors
    std::int32_t batSlots[kHeaderBatSlots];  // 76
    // Derived from the shifts (0 for a shift of 64 or more).
    std::uint64_t blockSize;
    std::uint64_t smallBlockSize;

    // The values of a new document: one table sector (sector 0), the
    // directory at sector 1, no small-block table, no extension.
    CompoundFileHeader();

    // Encodes every field at its offset into buffer (512 bytes).
    void Write(unsigned char* buffer) const;
    // Decodes every field from buffer (512 bytes) and recomputes the sizes.
    // Accepts any values; checking them is the caller's.
    void Read(const unsigned char* buffer);
    void ComputeSizes();
};

}  // namespace CompoundFiles
