// The fixed and short-named records of the workbook globals.
#include "workbook/workbook.h"

namespace CompoundFiles {
namespace XlsBiff {

namespace {
// The record's data as a buffer for the string readers.
const char* Begin(const std::vector<char>& d) { return d.data(); }
const char* End(const std::vector<char>& d) { return d.data() + d.size(); }
}  // namespace

// ---- Window1 ----

Workbook::Window1::Window1() : Record(RecordCode::Window1, 18) {}

size_t Workbook::Window1::Read(const char* in, const char* end) {
    const size_t consumed = ReadFixed(in, end, 18);
    if (consumed == 0) return 0;
    LittleEndian::Read(data, horizontalPosition, 0);
    LittleEndian::Read(data, verticalPosition, 2);
    LittleEndian::Read(data, width, 4);
    LittleEndian::Read(data, height, 6);
    LittleEndian::Read(data, options, 8);
    LittleEndian::Read(data, activeSheet, 10);
    LittleEndian::Read(data, firstVisibleTab, 12);
    LittleEndian::Read(data, selectedSheets, 14);
    LittleEndian::Read(data, tabBarWidth, 16);
    return consumed;
}

size_t Workbook::Window1::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, horizontalPosition, 0);
    LittleEndian::Write(data, verticalPosition, 2);
    LittleEndian::Write(data, width, 4);
    LittleEndian::Write(data, height, 6);
    LittleEndian::Write(data, options, 8);
    LittleEndian::Write(data, activeSheet, 10);
    LittleEndian::Write(data, firstVisibleTab, 12);
    LittleEndian::Write(data, selectedSheets, 14);
    LittleEndian::Write(data, tabBarWidth, 16);
    return Record::Write(out);
}

// ---- Font ----

Workbook::Font::Font() : Record(RecordCode::Font, 14) {
    name = L"Arial";
    DataSize();
    RecordSize();
}

size_t Workbook::Font::Read(const char* in, const char* end) {
    const size_t consumed = ReadFixed(in, end, 16);
    if (consumed == 0) return 0;
    LittleEndian::Read(data, height, 0);
    LittleEndian::Read(data, options, 2);
    LittleEndian::Read(data, colourIndex, 4);
    LittleEndian::Read(data, weight, 6);
    LittleEndian::Read(data, escapement, 8);
    LittleEndian::Read(data, underline, 10);
    LittleEndian::Read(data, family, 11);
    LittleEndian::Read(data, characterSet, 12);
    LittleEndian::Read(data, reserved, 13);
    if (name.Read(Begin(data) + 14, End(data)) == 0) return 0;
    return consumed;
}

size_t Workbook::Font::Write(char* out) {
    data.assign(DataSize(), 0);
    LittleEndian::Write(data, height, 0);
    LittleEndian::Write(data, options, 2);
    LittleEndian::Write(data, colourIndex, 4);
    LittleEndian::Write(data, weight, 6);
    LittleEndian::Write(data, escapement, 8);
    LittleEndian::Write(data, underline, 10);
    LittleEndian::Write(data, family, 11);
    LittleEndian::Write(data, characterSet, 12);
    LittleEndian::Write(data, reserved, 13);
    name.Write(data.data() + 14);
    return Record::Write(out);
}

size_t Workbook::Font::DataSize() {
    dataSize = 14 + name.StringSize();
    return dataSize;
}

size_t Workbook::Font::RecordSize() {
    recordSize = RecordSizeFor(DataSize());
    return recordSize;
}

// ---- XF ----

Workbook::XF::XF() : Record(RecordCode::Xf, 20) {}

size_t Workbook::XF::Read(const char* in, const char* end) {
    const size_t consumed = ReadFixed(in, end, 20);
    if (consumed == 0) return 0;
    LittleEndian::Read(data, fontIndex, 0);
    LittleEndian::Read(data, formatIndex, 2);
    LittleEndian::Read(data, typeProtection, 4);
    LittleEndian::Read(data, alignment, 6);
    LittleEndian::Read(data, rotation, 7);
    LittleEndian::Read(data, indentation, 8);
    LittleEndian::Read(data, usedAttributes, 9);
    LittleEndian::Read(data, borderLines, 10);
    LittleEndian::Read(data, borderColours, 14);
    LittleEndian::Read(data, patternColours, 18);
    return consumed;
}

size_t Workbook::XF::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, fontIndex, 0);
    LittleEndian::Write(data, formatIndex, 2);
    LittleEndian::Write(data, typeProtection, 4);
    LittleEndian::Write(data, alignment, 6);
    LittleEndian::Write(data, rotation, 7);
    LittleEndian::Write(data, indentation, 8);
    LittleEndian::Write(data, usedAttributes, 9);
    LittleEndian::Write(data, borderLines, 10);
    LittleEndian::Write(data, borderColours, 14);
    LittleEndian::Write(data, patternColours, 18);
    return Record::Write(out);
}

// ---- Style ----

Workbook::Style::Style() : Record(RecordCode::Style, 2) {}

size_t Workbook::Style::Read(const char* in, const char* end) {
    const size_t consumed = ReadFixed(in, end, 2);
    if (consumed == 0) return 0;
    LittleEndian::Read(data, xfIndex, 0);
    if (BuiltIn()) {
        if (data.size() < 4) return 0;
        LittleEndian::Read(data, builtInIdentifier, 2);
        LittleEndian::Read(data, outlineLevel, 3);
    } else if (name.Read(Begin(data) + 2, End(data)) == 0) {
        return 0;
    }
    return consumed;
}

size_t Workbook::Style::Write(char* out) {
    data.assign(DataSize(), 0);
    LittleEndian::Write(data, xfIndex, 0);
    if (BuiltIn()) {
        LittleEndian::Write(data, builtInIdentifier, 2);
        LittleEndian::Write(data, outlineLevel, 3);
    } else {
        name.Write(data.data() + 2);
    }
    return Record::Write(out);
}

size_t Workbook::Style::DataSize() {
    dataSize = BuiltIn() ? 4 : 2 + 3 + name.CharacterBytes();
    return dataSize;
}

size_t Workbook::Style::RecordSize() {
    recordSize = RecordSizeFor(DataSize());
    return recordSize;
}

// ---- BoundSheet ----

Workbook::BoundSheet::BoundSheet() : Record(RecordCode::BoundSheet, 6) {
    name = "Sheet1";
    DataSize();
    RecordSize();
}

size_t Workbook::BoundSheet::Read(const char* in, const char* end) {
    const size_t consumed = ReadFixed(in, end, 8);
    if (consumed == 0) return 0;
    LittleEndian::Read(data, streamPosition, 0);
    LittleEndian::Read(data, visibility, 4);
    LittleEndian::Read(data, sheetType, 5);
    if (name.Read(Begin(data) + 6, End(data)) == 0) return 0;
    return consumed;
}

size_t Workbook::BoundSheet::Write(char* out) {
    data.assign(DataSize(), 0);
    LittleEndian::Write(data, streamPosition, 0);
    LittleEndian::Write(data, visibility, 4);
    LittleEndian::Write(data, sheetType, 5);
    name.Write(data.data() + 6);
    return Record::Write(out);
}

size_t Workbook::BoundSheet::DataSize() {
    dataSize = 6 + name.StringSize();
    return dataSize;
}

size_t Workbook::BoundSheet::RecordSize() {
    recordSize = RecordSizeFor(DataSize());
    return recordSize;
}

// ---- ExtSST ----

Workbook::ExtSST::ExtSST() : Record(RecordCode::ExtSst, 2) {}

size_t Workbook::ExtSST::Read(const char* in, const char* end) {
    const size_t consumed = ReadFixed(in, end, 2);
    if (consumed == 0) return 0;
    LittleEndian::Read(data, stringsPerBucket, 0);
    const size_t buckets = (data.size() - 2) / 8;
    streamPositions.assign(buckets, 0);
    recordOffsets.assign(buckets, 0);
    reserved.assign(buckets, 0);
    for (size_t i = 0; i < buckets; ++i) {
        LittleEndian::Read(data, streamPositions[i], 2 + 8 * i);
        LittleEndian::Read(data, recordOffsets[i], 6 + 8 * i);
        LittleEndian::Read(data, reserved[i], 8 + 8 * i);
    }
    return consumed;
}

size_t Workbook::ExtSST::Write(char* out) {
    data.assign(DataSize(), 0);
    LittleEndian::Write(data, stringsPerBucket, 0);
    for (size_t i = 0; i < streamPositions.size(); ++i) {
        LittleEndian::Write(data, streamPositions[i], 2 + 8 * i);
        if (i < recordOffsets.size()) LittleEndian::Write(data, recordOffsets[i], 6 + 8 * i);
        if (i < reserved.size()) LittleEndian::Write(data, reserved[i], 8 + 8 * i);
    }
    return Record::Write(out);
}

size_t Workbook::ExtSST::DataSize() {
    dataSize = 2 + 8 * streamPositions.size();
    return dataSize;
}

size_t Workbook::ExtSST::RecordSize() {
    recordSize = RecordSizeFor(DataSize());
    return recordSize;
}

}  // namespace XlsBiff
}  // namespace CompoundFiles
