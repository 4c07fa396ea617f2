#include "compound_file/compound_file_header.h"

#include "compound_file/little_endian.h"

namespace CompoundFiles {

CompoundFileHeader::CompoundFileHeader()
    : signature(kSignature),
      classId{0, 0, 0, 0},
      minorVersion(0x003B),
      majorVersion(3),
      byteOrder(0xFFFE),
      blockShift(9),
      smallBlockShift(6),
      reserved1(0),
      reserved2(0),
      batCount(1),
      directoryStart(1),
      transactionSignature(0),
      smallStreamCutoff(kSmallStreamCutoff),
      sbatStart(kEndOfChain),
      sbatCount(0),
      xbatStart(kEndOfChain),
      xbatCount(0),
      batSlots{},
      blockSize(0),
      smallBlockSize(0) {
    batSlots[0] = 0;
    for (std::uint32_t i = 1; i < kHeaderBatSlots; ++i) batSlots[i] = kFreeBlock;
    ComputeSizes();
}

void CompoundFileHeader::ComputeSizes() {
    blockSize = blockShift < 64 ? (std::uint64_t{1} << blockShift) : 0;
    smallBlockSize = smallBlockShift < 64 ? (std::uint64_t{1} << smallBlockShift) : 0;
}

void CompoundFileHeader::Write(unsigned char* b) const {
    using LittleEndian::Write;
    Write(b, signature, 0, 8);
    for (int i = 0; i < 4; ++i) Write(b, classId[i], 8 + 4 * i, 4);
    Write(b, minorVersion, 24, 2);
    Write(b, majorVersion, 26, 2);
    Write(b, byteOrder, 28, 2);
    Write(b, blockShift, 30, 2);
    Write(b, smallBlockShift, 32, 4);
    Write(b, reserved1, 36, 4);
    Write(b, reserved2, 40, 4);
    Write(b, batCount, 44, 4);
    Write(b, directoryStart, 48, 4);
    Write(b, transactionSignature, 52, 4);
    Write(b, smallStreamCutoff, 56, 4);
    Write(b, sbatStart, 60, 4);
    Write(b, sbatCount, 64, 4);
    Write(b, xbatStart, 68, 4);
    Write(b, xbatCount, 72, 4);
    for (std::uint32_t i = 0; i < kHeaderBatSlots; ++i) Write(b, batSlots[i], 76 + 4 * i, 4);
}

void CompoundFileHeader::Read(const unsigned char* b) {
    using LittleEndian::Read;
    Read(b, signature, 0, 8);
    for (int i = 0; i < 4; ++i) Read(b, classId[i], 8 + 4 * i, 4);
    Read(b, minorVersion, 24, 2);
    Read(b, majorVersion, 26, 2);
    Read(b, byteOrder, 28, 2);
    Read(b, blockShift, 30, 2);
    Read(b, smallBlockShift, 32, 4);
    Read(b, reserved1, 36, 4);
    Read(b, reserved2, 40, 4);
    Read(b, batCount, 44, 4);
    Read(b, directoryStart, 48, 4);
    Read(b, transactionSignature, 52, 4);
    Read(b, smallStreamCutoff, 56, 4);
    Read(b, sbatStart, 60, 4);
    Read(b, sbatCount, 64, 4);
    Read(b, xbatStart, 68, 4);
    Read(b, xbatCount, 72, 4);
    for (std::uint32_t i = 0; i < kHeaderBatSlots; ++i) Read(b, batSlots[i], 76 + 4 * i, 4);
    ComputeSizes();
}

}  // namespace CompoundFiles
