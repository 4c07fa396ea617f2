// The BIFF8 record codes the workbook layer reads and writes, and the
// substream types a BOF record announces: one name for each, used by every
// record class and container.
#ifndef WORKBOOK_RECORD_CODES_H
#define WORKBOOK_RECORD_CODES_H

#include <cstdint>

namespace CompoundFiles {
namespace XlsBiff {
namespace RecordCode {

// Substream framing.
constexpr std::uint16_t Bof = 0x0809;
constexpr std::uint16_t Eof = 0x000A;
constexpr std::uint16_t Continue = 0x003C;

// Workbook globals.
constexpr std::uint16_t DateMode = 0x0022;
constexpr std::uint16_t FilePass = 0x002F;
constexpr std::uint16_t Font = 0x0031;
constexpr std::uint16_t Window1 = 0x003D;
constexpr std::uint16_t BoundSheet = 0x0085;
constexpr std::uint16_t Xf = 0x00E0;
constexpr std::uint16_t Sst = 0x00FC;
constexpr std::uint16_t ExtSst = 0x00FF;
constexpr std::uint16_t Style = 0x0293;
constexpr std::uint16_t Format = 0x041E;

// Worksheet records around the cells.
constexpr std::uint16_t Dimensions = 0x0200;
constexpr std::uint16_t Row = 0x0208;
constexpr std::uint16_t Index = 0x020B;
constexpr std::uint16_t DbCell = 0x00D7;
constexpr std::uint16_t Window2 = 0x023E;

// Cells.
constexpr std::uint16_t Formula = 0x0006;
constexpr std::uint16_t MulRk = 0x00BD;
constexpr std::uint16_t MulBlank = 0x00BE;
constexpr std::uint16_t RString = 0x00D6;
constexpr std::uint16_t LabelSst = 0x00FD;
constexpr std::uint16_t Blank = 0x0201;
constexpr std::uint16_t Number = 0x0203;
constexpr std::uint16_t Label = 0x0204;
constexpr std::uint16_t BoolErr = 0x0205;
constexpr std::uint16_t Rk = 0x027E;

// Records that travel with a FORMULA. TABLE is the older code: 0x0236, the
// BIFF8 one, is never attached.
constexpr std::uint16_t Table = 0x0036;
constexpr std::uint16_t ShrFmla = 0x00BC;
constexpr std::uint16_t String = 0x0207;
constexpr std::uint16_t Array = 0x0221;
constexpr std::uint16_t ShrFmla1 = 0x04BC;

// No record (a cell block or attached record not yet set).
constexpr std::uint16_t None = 0xFFFF;

}  // namespace RecordCode

namespace SubstreamType {
constexpr std::uint16_t Globals = 0x0005;
constexpr std::uint16_t Worksheet = 0x0010;
}  // namespace SubstreamType

}  // namespace XlsBiff
}  // namespace CompoundFiles

#endif
