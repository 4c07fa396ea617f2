// A worksheet written behind a globals substream, read by an independent
// reader (python3-xlrd reads a bare BIFF8 stream as well as a compound file).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include <unistd.h>

#include "tests/workbook/sheet_bytes.h"
#include "workbook/rk_codec.h"
#include "workbook/workbook.h"
#include "workbook/worksheet.h"

using namespace CompoundFiles::XlsBiff;
using namespace sheet_bytes;
using RowBlock = Worksheet::CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;

namespace {

std::string SourceDir() {
    const char* dir = std::getenv("ORVAN_SOURCE_DIR");
    return dir != nullptr ? dir : ".";
}

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return out;
}

CellBlock RkCell(unsigned r, unsigned c, std::uint32_t rk) {
    CellBlock b;
    CellBlock::RK& rkRec = b.Hold<CellBlock::RK>();
    rkRec.row = r, rkRec.column = c, rkRec.rk = rk;
    return b;
}

CellBlock NumberCell(unsigned r, unsigned c, double v) {
    CellBlock b;
    CellBlock::Number& numberRec = b.Hold<CellBlock::Number>();
    numberRec.row = r, numberRec.column = c, numberRec.value = v;
    return b;
}

CellBlock LabelCell(unsigned r, unsigned c, unsigned index) {
    CellBlock b;
    CellBlock::LabelSST& labelSSTRec = b.Hold<CellBlock::LabelSST>();
    labelSSTRec.row = r, labelSSTRec.column = c, labelSSTRec.sstIndex = index;
    return b;
}

CellBlock BoolErrCell(unsigned r, unsigned c, unsigned value, unsigned isError) {
    CellBlock b;
    CellBlock::BoolErr& boolErrRec = b.Hold<CellBlock::BoolErr>();
    boolErrRec.row = r, boolErrRec.column = c;
    boolErrRec.value = static_cast<std::uint8_t>(value);
    boolErrRec.isError = static_cast<std::uint8_t>(isError);
    return b;
}

CellBlock FormulaCell(unsigned r, unsigned c, const char result[8]) {
    CellBlock b;
    CellBlock::Formula& formulaRec = b.Hold<CellBlock::Formula>();
    formulaRec.row = r, formulaRec.column = c;
    std::memcpy(formulaRec.result, result, 8);
    formulaRec.formulaBytes = {0, 0, 3, 0, 0x1E, 12, 0};  // =12
    return b;
}

void AddRow(RowBlock& block, unsigned row) {
    block.rows.emplace_back();
    block.rows.back().row = static_cast<std::uint16_t>(row);
    block.rows.back().lastColumnPlusOne = 6;
    block.dbCell.cellOffsets.push_back(0);
}

}  // namespace

TEST(WorksheetInterop, IndependentReaderSeesTheCells) {
    const double rkDoubles[] = {1.5, -3.25, 12.34};
    for (double d : rkDoubles) ASSERT_TRUE(CanStoreAsRk(d)) << d;

    Worksheet sheet;
    sheet.cellTable.rowBlocks.resize(2);
    sheet.index.dbCellPositions.assign(2, 0);
    sheet.dimensions.lastRowPlusOne = 41;
    sheet.dimensions.lastColumnPlusOne = 6;
    RowBlock& first = sheet.cellTable.rowBlocks[0];
    RowBlock& second = sheet.cellTable.rowBlocks[1];
    AddRow(first, 0);
    AddRow(first, 1);
    AddRow(first, 2);
    AddRow(second, 40);

    first.cells.push_back(RkCell(0, 0, IntegerToRk(42)));
    first.cells.push_back(RkCell(0, 1, DoubleToRk(1.5)));
    first.cells.push_back(NumberCell(0, 2, std::acos(-1.0)));
    first.cells.push_back(LabelCell(0, 3, 1));
    first.cells.push_back(BoolErrCell(0, 4, 1, 0));
    first.cells.push_back(BoolErrCell(0, 5, 0x07, 1));

    CellBlock mul;
    CellBlock::MulRK& mulRKRec = mul.Hold<CellBlock::MulRK>();
    mulRKRec.row = 1;
    mulRKRec.firstColumn = 2;
    for (std::uint32_t rk : {IntegerToRk(-7), DoubleToRk(-3.25), DoubleToRk(12.34), IntegerToRk(536870911)}) {
        CellBlock::MulRK::XFRK e;
        e.rk = rk;
        mulRKRec.entries.push_back(e);
    }
    mulRKRec.lastColumn = 5;
    first.cells.push_back(mul);

    char numeric[8];
    const double twelveAndHalf = 12.5;
    std::memcpy(numeric, &twelveAndHalf, 8);
    first.cells.push_back(FormulaCell(2, 0, numeric));
    // A text result: the STRING record holds a BIFF8 counted string of odd
    // length, which the record keeps byte for byte.
    const char text[8] = {0, 0, 0, 0, 0, 0, '\xFF', '\xFF'};
    CellBlock withString = FormulaCell(2, 1, text);
    const Bytes stringRecord = Rec(0x0207, {2, 0, 0, 'o', 'k'});
    ASSERT_EQ(
        withString.As<CellBlock::Formula>().string.Read(stringRecord.data(), stringRecord.data() + stringRecord.size()),
        9u);
    first.cells.push_back(withString);
    first.cells.push_back(LabelCell(2, 2, 0));
    CellBlock blanks;
    CellBlock::MulBlank& mulBlankRec = blanks.Hold<CellBlock::MulBlank>();
    mulBlankRec.row = 2, mulBlankRec.firstColumn = 3, mulBlankRec.lastColumn = 4;
    mulBlankRec.xfIndices = {0, 0};
    first.cells.push_back(blanks);

    second.cells.push_back(NumberCell(40, 0, 1e300));
    second.cells.push_back(NumberCell(40, 1, -0.0));

    Workbook globals;
    globals.sheets.emplace_back();
    globals.sheets.back().name = "Data";
    globals.sharedStrings.strings.resize(2);
    globals.sharedStrings.strings[0] = "alpha";
    globals.sharedStrings.strings[1] = L"\u03b2eta";
    globals.sharedStrings.total = 2;
    globals.sheets.back().streamPosition = static_cast<unsigned>(globals.DataSize());

    Bytes stream(globals.DataSize() + sheet.DataSize());
    const size_t g = globals.Write(stream.data());
    ASSERT_EQ(g, globals.DataSize());
    ASSERT_EQ(sheet.Write(stream.data() + g), sheet.DataSize());

    const std::string path = testing::TempDir() + "sheet_interop_" + std::to_string(getpid()) + ".xls";
    {
        std::ofstream file(path, std::ios::binary);
        file.write(stream.data(), static_cast<std::streamsize>(stream.size()));
    }
    const std::string out =
        RunCommand("/usr/bin/python3 " + SourceDir() + "/tests/workbook/xlrd_cells.py " + path + " 2>&1");
    std::remove(path.c_str());

    std::istringstream lines(out);
    std::string word, name;
    int rows = 0;
    lines >> word >> name >> rows;
    ASSERT_EQ(word, "sheet") << out;
    EXPECT_EQ(name, "Data");
    EXPECT_EQ(rows, 41);
    std::map<std::pair<int, int>, std::pair<int, std::string>> seen;
    int r, c, type;
    std::string value;
    while (lines >> r >> c >> type >> value) seen[{r, c}] = {type, value};

    auto number = [&](int row, int col) {
        auto it = seen.find({row, col});
        if (it == seen.end() || it->second.first != 2) return std::nan("");
        return std::strtod(it->second.second.c_str(), nullptr);
    };
    EXPECT_EQ(number(0, 0), 42.0);
    EXPECT_EQ(number(0, 1), 1.5);
    EXPECT_EQ(number(0, 2), std::acos(-1.0));
    EXPECT_EQ(seen[std::make_pair(0, 3)], std::make_pair(1, std::string("\\u03b2eta")));
    EXPECT_EQ(seen[std::make_pair(0, 4)], std::make_pair(4, std::string("1")));
    EXPECT_EQ(seen[std::make_pair(0, 5)], std::make_pair(5, std::string("7")));
    EXPECT_EQ(number(1, 2), -7.0);
    EXPECT_EQ(number(1, 3), -3.25);
    // The reader divides by 100 where the codec multiplies by 0.01.
    EXPECT_DOUBLE_EQ(number(1, 4), 12.34);
    EXPECT_EQ(number(1, 5), 536870911.0);
    EXPECT_EQ(number(2, 0), 12.5);
    EXPECT_EQ(seen[std::make_pair(2, 1)], std::make_pair(1, std::string("ok")));
    EXPECT_EQ(seen[std::make_pair(2, 2)], std::make_pair(1, std::string("alpha")));
    EXPECT_EQ(number(40, 0), 1e300);
    EXPECT_TRUE(std::signbit(number(40, 1)));
    EXPECT_EQ(seen.size(), 15u) << out;
}
