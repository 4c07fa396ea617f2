// Loads arbitrary bytes as an .xls file. A workbook that loads must keep the
// document's invariants, save, load again and hold exactly the same sheets
// and cells; after a sheet is added in front and one cell written it must
// still write a stream that loads.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "workbook/xls_document.h"

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;

namespace {

std::string Scratch(const char* what) { return "/tmp/fuzz_xls_document." + std::to_string(::getpid()) + "." + what; }

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Every sheet's name and every non-empty cell, as comparable text.
std::string Describe(XlsDocument& doc) {
    std::string out;
    for (size_t k = 0; k < doc.SheetCount(); ++k) {
        XlsSheet* sheet = doc.GetSheet(k);
        Require(sheet != nullptr && sheet->Index() == k, "sheet index");
        if (const char* n = doc.GetSheetName(k)) {
            out += "N:" + std::string(n) + "\n";
        } else {
            const wchar_t* w = doc.GetWideSheetName(k);
            Require(w != nullptr, "a name of one width");
            out += "W:";
            for (; *w != 0; ++w) out += std::to_string(static_cast<unsigned long>(*w)) + ",";
            out += "\n";
        }
        for (size_t r = 0; r < sheet->RowCount(); ++r) {
            if (!sheet->RowHasCells(r)) continue;
            for (size_t c = 0; c < sheet->ColumnCount(); ++c) {
                const SheetCell& cell = *sheet->CellAt(r, c);
                const std::string at = std::to_string(r) + "," + std::to_string(c) + ":";
                switch (cell.Type()) {
                    case SheetCell::Integer: out += at + "i" + std::to_string(cell.GetInt()) + "\n"; break;
                    case SheetCell::Real: {
                        const double d = cell.GetDouble();
                        uint64_t bits;
                        std::memcpy(&bits, &d, sizeof bits);
                        out += at + "d" + std::to_string(bits) + "\n";
                        break;
                    }
                    case SheetCell::Text: out += at + "t" + cell.GetText() + "\n"; break;
                    case SheetCell::WideText:
                        out += at + "w";
                        for (const wchar_t* w = cell.GetWideText(); *w != 0; ++w)
                            out += std::to_string(static_cast<unsigned long>(*w)) + ",";
                        out += "\n";
                        break;
                    default: break;
                }
            }
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = Scratch("in.xls");
    static const std::string output = Scratch("out.xls");
    if (!WriteFile(input, data, size)) return 0;

    XlsDocument doc;
    const bool opened = doc.Load(input.c_str());
    std::remove(input.c_str());
    if (!opened) return 0;
    Require(doc.Globals().sheets.size() == doc.SheetCount(), "one entry per sheet");
    Require(doc.Worksheets().size() == doc.SheetCount(), "one worksheet per sheet");
    const std::string loaded = Describe(doc);

    Require(doc.SaveAs(output.c_str()), "a loaded workbook saves");
    XlsDocument back;
    Require(back.Load(output.c_str()), "a saved workbook loads");
    Require(Describe(back) == loaded, "saved and loaded again, the same sheets and cells");

    XlsSheet* added = back.AddSheet("Fuzz", 0);
    if (added == nullptr) added = back.AddSheet(0);
    Require(added != nullptr && added->Index() == 0, "a sheet added in front");
    added->Cell(3, 2)->SetReal(0.1);
    back.UpdateWorksheets();
    back.UpdatePositions();
    std::vector<char> stream(back.StreamSize());
    Require(back.WriteStream(stream.data()) == stream.size(), "stream written to its size");
    XlsDocument again;
    Require(again.LoadStream(stream.data(), stream.size()), "the stream loads");
    Require(again.SheetCount() == doc.SheetCount() + 1, "every sheet written");
    Require(again.GetSheet(size_t{0})->CellAt(3, 2)->GetDouble() == 0.1, "the new cell");
    std::remove(output.c_str());
    return 0;
}
