#include "compound_file/directory_entry.h"

#include "compound_file/compound_file_header.h"
#include "compound_file/little_endian.h"

namespace CompoundFiles {

DirectoryEntry::DirectoryEntry()
    : name{},
      nameSize(0),
      type(kTypeStorage),
      colour(kColourBlack),
      leftSibling(kNoEntry),
      rightSibling(kNoEntry),
      child(kNoEntry),
      classId{0, 0, 0, 0},
      stateBits(0),
      creationTime{0, 0},
      modificationTime{0, 0},
      startBlock(kEndOfChain),
      size(0) {}

void DirectoryEntry::Write(unsigned char* b) const {
    using LittleEndian::Write;
    for (std::uint32_t i = 0; i < kNameUnits; ++i) Write(b, name[i], 2 * i, 2);
    Write(b, nameSize, 64, 2);
    Write(b, type, 66, 1);
    Write(b, colour, 67, 1);
    Write(b, leftSibling, 68, 4);
    Write(b, rightSibling, 72, 4);
    Write(b, child, 76, 4);
    for (int i = 0; i < 4; ++i) Write(b, classId[i], 80 + 4 * i, 4);
    Write(b, stateBits, 96, 4);
    Write(b, creationTime[0], 100, 4);
    Write(b, creationTime[1], 104, 4);
    Write(b, modificationTime[0], 108, 4);
    Write(b, modificationTime[1], 112, 4);
    Write(b, startBlock, 116, 4);
    Write(b, size, 120, 4);
}

void DirectoryEntry::Read(const unsigned char* b) {
    using LittleEndian::Read;
    for (std::uint32_t i = 0; i < kNameUnits; ++i) Read(b, name[i], 2 * i, 2);
    Read(b, nameSize, 64, 2);
    Read(b, type, 66, 1);
    Read(b, colour, 67, 1);
    Read(b, leftSibling, 68, 4);
    Read(b, rightSibling, 72, 4);
    Read(b, child, 76, 4);
    for (int i = 0; i < 4; ++i) Read(b, classId[i], 80 + 4 * i, 4);
    Read(b, stateBits, 96, 4);
    Read(b, creationTime[0], 100, 4);
    Read(b, creationTime[1], 104, 4);
    Read(b, modificationTime[0], 108, 4);
    Read(b, modificationTime[1], 112, 4);
    Read(b, startBlock, 116, 4);
    Read(b, size, 120, 4);
}

std::uint32_t DirectoryEntry::NameLength() const {
    std::uint32_t n = 0;
    while (n < kNameUnits && name[n] != 0) ++n;
    return n;
}

}  // namespace CompoundFiles
