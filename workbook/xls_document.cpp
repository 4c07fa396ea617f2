#include "workbook/xls_document.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

namespace CompoundFiles {

using XlsBiff::BiffShortString;
using XlsBiff::Workbook;
using XlsBiff::Worksheet;

namespace {

const std::size_t kNotFound = static_cast<std::size_t>(-1);

// UTF-16 code units a wide name takes, as the name record stores it.
std::size_t Utf16Length(const wchar_t* name) {
    std::size_t n = 0;
    for (; *name != 0; ++name) {
        const unsigned long c = static_cast<unsigned long>(*name);
        n += (c > 0xFFFF && c <= 0x10FFFF) ? 2 : 1;
    }
    return n;
}

// A name must be stored whole: an empty one or one the one-byte count cannot
// hold would be cut and then never found again by the name it was given.
bool UsableName(const char* name) {
    return name != nullptr && name[0] != 0 && std::strlen(name) <= BiffShortString::MaxLength;
}

bool UsableName(const wchar_t* name) {
    return name != nullptr && name[0] != 0 && Utf16Length(name) <= BiffShortString::MaxLength;
}

// A name as the UTF-16 units a BOUNDSHEET stores (an 8-bit name is
// Latin-1), case-folded by Unicode's full folding, as spreadsheet programs
// compare sheet names ("\u00df" matches "SS", "\u1eef" matches "\u1eee").
std::vector<UChar> Folded(const BiffShortString& name) {
    std::vector<UChar> units;
    if (name.IsWide()) {
        for (const wchar_t* p = name.Wide(); p != nullptr && *p != 0; ++p)
            units.push_back(static_cast<UChar>(static_cast<unsigned>(*p) & 0xFFFF));
    } else {
        for (const char* p = name.Narrow(); p != nullptr && *p != 0; ++p)
            units.push_back(static_cast<unsigned char>(*p));
    }
    // Full folding at most triples a unit.
    std::vector<UChar> folded(3 * units.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), units.data(),
                                    static_cast<int32_t>(units.size()), U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status)) return units;
    folded.resize(static_cast<std::size_t>(n));
    return folded;
}

// Sheet names are equal when their characters are, ignoring case and the
// width each is stored in.
bool SameName(const BiffShortString& stored, const BiffShortString& given) { return Folded(stored) == Folded(given); }

// What spreadsheet programs refuse in a sheet name (they rename such a
// sheet, or call the file damaged): the first such character, or 0.
template <typename Char>
char Forbidden(const Char* name) {
    if (name == nullptr || name[0] == 0) return 0;
    for (const Char* p = name; *p != 0; ++p)
        for (const char* f = "[]:*?/\\"; *f != 0; ++f)
            if (*p == static_cast<Char>(*f)) return *f;
    std::size_t last = 0;
    while (name[last + 1] != 0) ++last;
    return name[0] == '\'' || name[last] == '\'' ? '\'' : 0;
}

// A name no sheet can have (empty, or too long to store whole) names none:
// cut to fit, it could match another sheet.
template <typename Char>
std::size_t FindName(const std::vector<Workbook::BoundSheet>& sheets, const Char* name) {
    if (!UsableName(name)) return kNotFound;
    BiffShortString given;
    given = name;
    for (std::size_t k = 0; k < sheets.size(); ++k)
        if (SameName(sheets[k].name, given)) return k;
    return kNotFound;
}

}  // namespace

XlsDocument::XlsDocument() = default;

XlsDocument::XlsDocument(const char* file) { Load(file); }

XlsDocument::~XlsDocument() {
    if (file.IsOpen()) file.Close();
}

void XlsDocument::New(int count) {
    workbook = Workbook();
    worksheets.clear();
    sheets.clear();
    workbook.fonts.resize(4);
    workbook.xfs.resize(21);
    workbook.styles.resize(6);
    workbook.sheets.resize(1);
    worksheets.resize(1);
    UpdateSheets();
    for (int k = 1; k < count; ++k) AddSheet(-1);
}

void XlsDocument::UpdateSheets() {
    sheets.clear();
    sheets.reserve(worksheets.size());
    for (std::size_t k = 0; k < worksheets.size(); ++k) sheets.emplace_back(this, k);
}

void XlsDocument::Renumber(std::size_t from) {
    for (std::size_t k = from; k < sheets.size(); ++k) sheets[k].index = k;
}

XlsSheet* XlsDocument::GetSheet(std::size_t index) { return index < sheets.size() ? &sheets[index] : nullptr; }

XlsSheet* XlsDocument::GetSheet(const char* name) {
    const std::size_t k = FindSheet(name);
    return k == kNotFound ? nullptr : &sheets[k];
}

XlsSheet* XlsDocument::GetSheet(const wchar_t* name) {
    const std::size_t k = FindSheet(name);
    return k == kNotFound ? nullptr : &sheets[k];
}

std::size_t XlsDocument::FindSheet(const char* name) const { return FindName(workbook.sheets, name); }

std::size_t XlsDocument::FindSheet(const wchar_t* name) const { return FindName(workbook.sheets, name); }

XlsSheet* XlsDocument::AddSheet(int index) {
    if (index < -1 || (index >= 0 && static_cast<std::size_t>(index) > sheets.size())) return nullptr;
    for (std::size_t n = sheets.size() + 1;; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Sheet%zu", n);
        if (XlsSheet* sheet = AddSheet(name, index)) return sheet;
    }
}

char XlsDocument::ForbiddenNameCharacter(const char* name) { return Forbidden(name); }

char XlsDocument::ForbiddenNameCharacter(const wchar_t* name) { return Forbidden(name); }

XlsSheet* XlsDocument::AddSheet(const char* name, int index) { return InsertSheet(name, index); }

XlsSheet* XlsDocument::AddSheet(const wchar_t* name, int index) { return InsertSheet(name, index); }

template <typename Char>
XlsSheet* XlsDocument::InsertSheet(const Char* name, int index) {
    if (!UsableName(name) || Forbidden(name) != 0 || FindSheet(name) != kNotFound) return nullptr;
    const std::size_t count = sheets.size();
    if (index < -1 || (index >= 0 && static_cast<std::size_t>(index) > count)) return nullptr;
    const std::size_t at = index == -1 ? count : static_cast<std::size_t>(index);

    // Room first, so that the three lists change together or not at all.
    workbook.sheets.reserve(count + 1);
    worksheets.reserve(count + 1);
    sheets.reserve(count + 1);
    Workbook::BoundSheet entry;
    entry.name = name;
    Worksheet worksheet;
    worksheet.window2.options &= static_cast<std::uint16_t>(~Worksheet::Window2::Selected);
    workbook.sheets.insert(workbook.sheets.begin() + at, entry);
    worksheets.insert(worksheets.begin() + at, worksheet);
    sheets.insert(sheets.begin() + at, XlsSheet(this, at));
    Renumber(at);
    return &sheets[at];
}

bool XlsDocument::DeleteSheet(std::size_t index) {
    if (index >= workbook.sheets.size() || index >= sheets.size()) return false;
    workbook.sheets.erase(workbook.sheets.begin() + index);
    worksheets.erase(worksheets.begin() + index);
    sheets.erase(sheets.begin() + index);
    Renumber(index);
    return true;
}

bool XlsDocument::DeleteSheet(const char* name) {
    const std::size_t k = FindSheet(name);
    return k != kNotFound && DeleteSheet(k);
}

bool XlsDocument::DeleteSheet(const wchar_t* name) {
    const std::size_t k = FindSheet(name);
    return k != kNotFound && DeleteSheet(k);
}

const char* XlsDocument::GetSheetName(std::size_t index) const {
    if (index >= workbook.sheets.size()) return nullptr;
    const BiffShortString& name = workbook.sheets[index].name;
    if (name.IsWide()) return nullptr;
    return name.Narrow() != nullptr ? name.Narrow() : "";
}

const wchar_t* XlsDocument::GetWideSheetName(std::size_t index) const {
    if (index >= workbook.sheets.size()) return nullptr;
    const BiffShortString& name = workbook.sheets[index].name;
    if (!name.IsWide()) return nullptr;
    return name.Wide() != nullptr ? name.Wide() : L"";
}

bool XlsDocument::GetSheetName(std::size_t index, char* buffer) const {
    const char* name = GetSheetName(index);
    if (name == nullptr || buffer == nullptr) return false;
    std::memcpy(buffer, name, std::strlen(name) + 1);
    return true;
}

bool XlsDocument::GetSheetName(std::size_t index, wchar_t* buffer) const {
    const wchar_t* name = GetWideSheetName(index);
    if (name == nullptr || buffer == nullptr) return false;
    std::wmemcpy(buffer, name, std::wcslen(name) + 1);
    return true;
}

bool XlsDocument::SetName(std::size_t index, const char* name) {
    if (index >= workbook.sheets.size() || !UsableName(name) || Forbidden(name) != 0 || FindSheet(name) != kNotFound)
        return false;
    workbook.sheets[index].name = name;
    return true;
}

bool XlsDocument::SetName(std::size_t index, const wchar_t* name) {
    if (index >= workbook.sheets.size() || !UsableName(name) || Forbidden(name) != 0 || FindSheet(name) != kNotFound)
        return false;
    workbook.sheets[index].name = name;
    return true;
}

bool XlsDocument::RenameSheet(std::size_t index, const char* name) { return SetName(index, name); }

bool XlsDocument::RenameSheet(std::size_t index, const wchar_t* name) { return SetName(index, name); }

bool XlsDocument::RenameSheet(const char* oldName, const char* newName) {
    const std::size_t k = FindSheet(oldName);
    return k != kNotFound && SetName(k, newName);
}

bool XlsDocument::RenameSheet(const wchar_t* oldName, const wchar_t* newName) {
    const std::size_t k = FindSheet(oldName);
    return k != kNotFound && SetName(k, newName);
}

}  // namespace CompoundFiles
