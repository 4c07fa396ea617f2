// Writes workbooks through XlsDocument for the independent-reader checks.
//   xls_writer SCENARIO OUTPUT.xls MANIFEST.txt
// The manifest says what the workbook must hold, as the scenario meant it
// (kept beside the document, not read back from it), one item a line:
//   S <tab> name            the next sheet, in order
//   N <tab> row <tab> column <tab> value     a number (%.17g)
//   T <tab> row <tab> column <tab> text      a text
// Names and texts are UTF-8, written as hexadecimal bytes.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "workbook/xls_document.h"

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;

namespace {

std::string Utf8(const wchar_t* text) {
    std::string out;
    for (; *text != 0; ++text) {
        const unsigned long c = static_cast<unsigned long>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Narrow texts are read as Latin-1.
std::string Latin1(const char* text) {
    std::wstring w;
    for (; *text != 0; ++text) w += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return Utf8(w.c_str());
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// What a scenario means the workbook to hold.
struct Expected {
    struct Value {
        bool text;
        double number;
        std::string utf8;
    };
    std::vector<std::string> order;  // sheet names, UTF-8
    std::map<std::string, std::map<std::pair<size_t, size_t>, Value>> cells;

    void Sheet(const std::string& name, size_t at) { order.insert(order.begin() + at, name); }
    void Drop(const std::string& name) {
        for (size_t k = 0; k < order.size(); ++k)
            if (order[k] == name) order.erase(order.begin() + k);
        cells.erase(name);
    }
    void Rename(const std::string& from, const std::string& to) {
        for (std::string& n : order)
            if (n == from) n = to;
        cells[to] = cells[from];
        cells.erase(from);
    }
    bool Write(const char* path) const {
        FILE* f = std::fopen(path, "w");
        if (f == nullptr) return false;
        for (const std::string& name : order) {
            std::fprintf(f, "S\t%s\n", Hex(name).c_str());
            auto it = cells.find(name);
            if (it == cells.end()) continue;
            for (const auto& [at, v] : it->second) {
                if (v.text)
                    std::fprintf(f, "T\t%zu\t%zu\t%s\n", at.first, at.second, Hex(v.utf8).c_str());
                else
                    std::fprintf(f, "N\t%zu\t%zu\t%.17g\n", at.first, at.second, v.number);
            }
        }
        return std::fclose(f) == 0;
    }
};

bool failed = false;

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "failed: %s\n", what);
        failed = true;
    }
}

// A sheet being written together with what it is meant to hold.
struct Writer {
    XlsDocument& doc;
    Expected& expected;
    std::string name;

    SheetCell* At(size_t r, size_t c) {
        XlsSheet* sheet = SheetOf();
        SheetCell* cell = sheet != nullptr ? sheet->Cell(r, c) : nullptr;
        Require(cell != nullptr, "cell");
        return cell;
    }
    XlsSheet* SheetOf() {
        for (size_t k = 0; k < doc.SheetCount(); ++k) {
            const char* n = doc.GetSheetName(k);
            const wchar_t* w = doc.GetWideSheetName(k);
            if ((n != nullptr ? Latin1(n) : Utf8(w)) == name) return doc.GetSheet(k);
        }
        return nullptr;
    }
    void Int(size_t r, size_t c, int v) {
        if (SheetCell* cell = At(r, c)) cell->SetInt(v);
        expected.cells[name][{r, c}] = {false, static_cast<double>(v), ""};
    }
    void Real(size_t r, size_t c, double v) {
        if (SheetCell* cell = At(r, c)) cell->SetReal(v);
        expected.cells[name][{r, c}] = {false, v, ""};
    }
    void Text(size_t r, size_t c, const char* v) {
        if (SheetCell* cell = At(r, c)) cell->SetText(v);
        if (v[0] == 0)
            expected.cells[name].erase({r, c});
        else
            expected.cells[name][{r, c}] = {true, 0.0, Latin1(v)};
    }
    void Wide(size_t r, size_t c, const wchar_t* v) {
        if (SheetCell* cell = At(r, c)) cell->SetWideText(v);
        expected.cells[name][{r, c}] = {true, 0.0, Utf8(v)};
    }
};

void NewSheets(XlsDocument& doc, Expected& e) {
    doc.New(3);
    for (const char* n : {"Sheet1", "Sheet2", "Sheet3"}) e.Sheet(n, e.order.size());
}

// Every record choice: integer runs (MULRK) and lone integers (RK), doubles
// that code as RK, alone and in runs, doubles that do not (NUMBER), shared
// texts, cells in later row blocks and far columns, a generated sheet name.
void Kinds(XlsDocument& doc, Expected& e) {
    doc.New(1);
    e.Sheet("Sheet1", 0);
    Writer s{doc, e, "Sheet1"};
    s.Int(0, 0, 1);
    s.Int(0, 1, 2);
    s.Int(0, 2, 3);
    s.Int(0, 4, 7);
    s.Real(1, 0, 0.5);
    s.Real(1, 1, 0.25);
    s.Real(1, 2, 1234.5678);
    s.Real(1, 3, 0.1);
    s.Real(1, 4, 0.2);
    s.Real(1, 5, 1.5);
    s.Real(1, 6, 3.0);
    s.Real(1, 7, static_cast<double>(0.1f));
    s.Real(1, 8, 57 * 0.01);  // not the double nearest 0.57
    s.Real(1, 9, 0.57);
    s.Int(2, 0, -1);
    s.Int(2, 1, -536870912);
    s.Int(2, 2, 536870911);
    s.Real(2, 3, 1e300);
    s.Real(2, 4, -2.5);
    s.Real(2, 5, -3.25);
    s.Real(2, 6, 5e-324);
    s.Text(3, 0, "same");
    s.Text(3, 1, "same");
    s.Text(3, 2, "other");
    s.Text(3, 3, "same");
    s.Text(3, 4, "caf\xe9 \"quoted\"");
    s.Text(40, 200, "far");
    s.Real(40, 255, -0.75);
    s.Int(65535, 0, 42);
    Require(doc.AddSheet("Data", 0) != nullptr, "AddSheet Data");
    e.Sheet("Data", 0);
    Writer d{doc, e, "Data"};
    d.Real(5, 1, 2.75);
    d.Text(6, 1, "other");
    XlsSheet* third = doc.AddSheet(-1);
    Require(third != nullptr && std::strcmp(third->GetName(), "Sheet3") == 0, "AddSheet(-1)");
    e.Sheet("Sheet3", 2);
}

// Wide sheet names and wide texts beside narrow ones of the same letters.
void Wide(XlsDocument& doc, Expected& e) {
    doc.New(1);
    e.Sheet("Sheet1", 0);
    Require(doc.AddSheet(L"Gr\u00f6\u00dfe", 0) != nullptr, "AddSheet wide");
    e.Sheet(Utf8(L"Gr\u00f6\u00dfe"), 0);
    Require(doc.AddSheet(L"\u6570\u636e", -1) != nullptr, "AddSheet wide 2");
    e.Sheet(Utf8(L"\u6570\u636e"), 2);
    // Names match across widths and case: no second "Sheet1".
    Require(doc.AddSheet(L"SHEET1", 1) == nullptr, "wide name matching a narrow one refused");
    Require(doc.GetSheet(L"sheet1") == doc.GetSheet("Sheet1"), "wide lookup finds the narrow name");
    Writer w{doc, e, Utf8(L"Gr\u00f6\u00dfe")};
    w.Wide(0, 0, L"\u03a9mega");
    w.Wide(0, 1, L"abc");
    w.Text(0, 2, "abc");
    w.Wide(1, 0, L"\u6570\u636e");
    w.Wide(1, 1, L"smile \U0001F600");
    w.Wide(2, 0, L"\u03a9mega");
    Writer n{doc, e, Utf8(L"\u6570\u636e")};
    n.Real(0, 0, 1.0);
    n.Wide(0, 1, L"abc");
}

// A workbook loaded again and changed: a sheet added in front, one renamed,
// one deleted, cells overwritten and cleared, then saved over itself.
void Reload(XlsDocument& doc, Expected& e, const char* path) {
    doc.New(1);
    Require(doc.RenameSheet("Sheet1", "A"), "rename Sheet1");
    e.Sheet("A", 0);
    for (const char* n : {"B", "C"}) {
        Require(doc.AddSheet(n, -1) != nullptr, "AddSheet");
        e.Sheet(n, e.order.size());
    }
    Writer a{doc, e, "A"};
    Writer b{doc, e, "B"};
    Writer c{doc, e, "C"};
    for (int r = 0; r < 70; ++r) {
        a.Real(r, 0, r * 0.5);
        a.Int(r, 1, r);
        b.Text(r, 0, r % 2 ? "odd" : "even");
    }
    c.Real(0, 0, 9.0);
    Require(doc.SaveAs(path), "first save");

    XlsDocument again;
    Require(again.Load(path), "load");
    Require(again.SheetCount() == 3, "three sheets loaded");
    Require(again.AddSheet("Front", 0) != nullptr, "AddSheet Front");
    e.Sheet("Front", 0);
    Require(again.RenameSheet("B", "Bee"), "rename B");
    e.Rename("B", "Bee");
    Require(again.DeleteSheet("C"), "delete C");
    e.Drop("C");
    Writer a2{again, e, "A"};
    a2.Real(3, 0, -1.25);
    a2.Text(80, 2, "added");
    a2.Text(0, 1, "");  // clears
    Writer f{again, e, "Front"};
    f.Text(0, 0, "front");
    Require(again.Save(), "save over");
}

// Enough shared strings for the table to continue over CONTINUE records,
// narrow and wide, some of them long.
void Strings(XlsDocument& doc, Expected& e) {
    doc.New(1);
    e.Sheet("Sheet1", 0);
    Writer s{doc, e, "Sheet1"};
    for (int i = 0; i < 3000; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "string number %d", i);
        s.Text(static_cast<size_t>(i / 4), static_cast<size_t>(i % 4), text);
    }
    std::wstring longWide(9000, L'\u00e4');
    s.Wide(800, 0, longWide.c_str());
    std::string longNarrow(10000, 'x');
    s.Text(800, 1, longNarrow.c_str());
    for (int i = 0; i < 500; ++i) {
        wchar_t text[64];
        std::swprintf(text, 64, L"\u0416 %d", i);
        s.Wide(static_cast<size_t>(801 + i), 2, text);
    }
}

// Row blocks with gaps: whole empty blocks between used ones.
void Blocks(XlsDocument& doc, Expected& e) {
    doc.New(1);
    e.Sheet("Sheet1", 0);
    Writer s{doc, e, "Sheet1"};
    for (size_t r = 0; r < 300; ++r) {
        if (r >= 33 && r < 130) continue;
        s.Real(r, 0, static_cast<double>(r) / 7.0);
        s.Int(r, 2, static_cast<int>(r));
        s.Int(r, 3, static_cast<int>(r) + 1);
    }
    // A grown but empty table corner: not part of the used range.
    Require(doc.GetSheet(static_cast<size_t>(0))->Cell(400, 20) != nullptr, "grow");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: xls_writer SCENARIO OUTPUT.xls MANIFEST.txt\n");
        return 2;
    }
    const std::string scenario = argv[1];
    const char* path = argv[2];
    XlsDocument doc;
    Expected e;
    bool saved = false;
    if (scenario == "new") {
        NewSheets(doc, e);
    } else if (scenario == "kinds") {
        Kinds(doc, e);
    } else if (scenario == "wide") {
        Wide(doc, e);
    } else if (scenario == "reload") {
        Reload(doc, e, path);
        saved = true;
    } else if (scenario == "strings") {
        Strings(doc, e);
    } else if (scenario == "blocks") {
        Blocks(doc, e);
    } else {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    if (!saved) Require(doc.SaveAs(path), "SaveAs");
    Require(e.Write(argv[3]), "manifest");
    return failed ? 1 : 0;
}
