#pragma once
// Builds, byte by byte, a document in the other extension form: table
// entries beyond the 109 header slots held directly in a run of extension
// sectors marked -3, and a small-block table run whose sectors are not linked.
#include <cstdint>
#include <cstring>
#include <vector>

#include "compound_file/compound_file_header.h"
#include "compound_file/directory_entry.h"
#include "compound_file/little_endian.h"

namespace cftest {

struct VariantDocument {
    std::vector<unsigned char> bytes;
    std::vector<unsigned char> big;   // stream "Big"
    std::vector<unsigned char> tiny;  // stream "Tiny", 100 bytes in small blocks
};

inline VariantDocument MakeVariantDocument(std::vector<unsigned char> (*pattern)(std::size_t, std::uint32_t)) {
    namespace CF = CompoundFiles;
    // Sectors: 0-108 table, 109 extension, 110 directory, 111-112 small-block
    // table, 113 store, 114 .. N-1 the big stream.
    const std::uint64_t n = 109 * 128 + 100;
    const std::uint64_t firstData = 114;
    VariantDocument doc;
    doc.big = pattern((n - firstData) * 512 - 100, 77);
    doc.tiny = pattern(100, 78);
    doc.bytes.assign((n + 1) * 512, 0);
    auto sector = [&](std::uint64_t s) { return doc.bytes.data() + 512 * (s + 1); };

    CF::CompoundFileHeader h;
    h.batCount = 109;
    for (std::uint32_t i = 0; i < 109; ++i) h.batSlots[i] = static_cast<std::int32_t>(i);
    h.xbatStart = 109;
    h.xbatCount = 1;
    h.directoryStart = 110;
    h.sbatStart = 111;
    h.sbatCount = 2;
    h.Write(doc.bytes.data());

    std::vector<std::int32_t> bat(110 * 128, CF::kFreeBlock);
    for (int s = 0; s <= 109; ++s) bat[s] = CF::kBatBlock;
    bat[110] = CF::kEndOfChain;
    bat[111] = CF::kEndOfChain;  // the run's sectors carry no links
    bat[112] = CF::kEndOfChain;
    bat[113] = CF::kEndOfChain;
    for (std::uint64_t s = firstData; s + 1 < n; ++s) bat[s] = static_cast<std::int32_t>(s + 1);
    bat[n - 1] = CF::kEndOfChain;
    for (std::uint64_t k = 0; k < bat.size(); ++k) {
        const std::uint64_t block = k / 128;  // 0-108 in the slots, 109 is the extension sector
        CF::LittleEndian::Write(sector(block), bat[k], 4 * (k % 128), 4);
    }

    std::vector<std::int32_t> sbat(256, CF::kFreeBlock);
    sbat[0] = 1;
    sbat[1] = CF::kEndOfChain;
    for (int k = 0; k < 256; ++k) CF::LittleEndian::Write(sector(111 + k / 128), sbat[k], 4 * (k % 128), 4);
    std::memcpy(sector(113), doc.tiny.data(), doc.tiny.size());

    CF::DirectoryEntry root, bigEntry, tinyEntry;
    const char16_t rootName[] = u"Root Entry";
    std::memcpy(root.name, rootName, sizeof rootName);
    root.nameSize = 22;
    root.type = CF::kTypeRoot;
    root.child = 1;
    root.startBlock = 113;
    root.size = 128;
    const char16_t bigName[] = u"Big";
    std::memcpy(bigEntry.name, bigName, sizeof bigName);
    bigEntry.nameSize = 8;
    bigEntry.type = CF::kTypeStream;
    bigEntry.startBlock = static_cast<std::int32_t>(firstData);
    bigEntry.size = static_cast<std::uint32_t>(doc.big.size());
    bigEntry.rightSibling = 2;
    const char16_t tinyName[] = u"Tiny";
    std::memcpy(tinyEntry.name, tinyName, sizeof tinyName);
    tinyEntry.nameSize = 10;
    tinyEntry.type = CF::kTypeStream;
    tinyEntry.startBlock = 0;
    tinyEntry.size = 100;
    root.Write(sector(110));
    bigEntry.Write(sector(110) + 128);
    tinyEntry.Write(sector(110) + 256);
    std::memcpy(sector(firstData), doc.big.data(), doc.big.size());
    return doc;
}

}  // namespace cftest
