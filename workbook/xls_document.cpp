#include "workbook/xls_document.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace CompoundFiles {

using XlsBiff::BiffShortString;
using XlsBiff::Workbook;
using XlsBiff::Worksheet;

namespace {

const std::size_t kNotFound = static_cast<std::size_t>(-1);
const std::uint16_t kSheetSelected = 0x0200;

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

bool SameName(const BiffShortString& stored, const char* name) {
    if (stored.IsWide()) return false;
    const char* text = stored.Narrow();
    return std::strcmp(text != nullptr ? text : "", name) == 0;
}

// Wide names are compared in their stored (UTF-16) form.
bool SameName(const BiffShortString& stored, const wchar_t* name) {
    if (!stored.IsWide()) return false;
    BiffShortString given;
    given = name;
    const wchar_t* a = stored.Wide();
    const wchar_t* b = given.Wide();
    return std::wcscmp(a != nullptr ? a : L"", b != nullptr ? b : L"") == 0;
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

XlsSheet* XlsDocument::GetSheet(std::size_t index) {
    return index < sheets.size() ? &sheets[index] : nullptr;
}

XlsSheet* XlsDocument::GetSheet(const char* name) {
    const std::size_t k = FindSheet(name);
    return k == kNotFound ? nullptr : &sheets[k];
}

XlsSheet* XlsDocument::GetSheet(const wchar_t* name) {
    const std::size_t k = FindSheet(name);
    return k == kNotFound ? nullptr : &sheets[k];
}

std::size_t XlsDocument::FindSheet(const char* name) const {
    if (name == nullptr) return kNotFound;
    for (std::size_t k = 0; k < workbook.sheets.size(); ++k)
        if (SameName(workbook.sheets[k].name, name)) return k;
    return kNotFound;
}

std::size_t XlsDocument::FindSheet(const wchar_t* name) const {
    if (name == nullptr) return kNotFound;
    for (std::size_t k = 0; k < workbook.sheets.size(); ++k)
        if (SameName(workbook.sheets[k].name, name)) return k;
    return kNotFound;
}

XlsSheet* XlsDocument::AddSheet(int index) {
    if (index < -1 || (index >= 0 && static_cast<std::size_t>(index) > sheets.size())) return nullptr;
    for (std::size_t n = sheets.size() + 1;; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Sheet%zu", n);
        if (XlsSheet* sheet = AddSheet(name, index)) return sheet;
    }
}

XlsSheet* XlsDocument::AddSheet(const char* name, int index) { return InsertSheet(name, index); }

XlsSheet* XlsDocument::AddSheet(const wchar_t* name, int index) { return InsertSheet(name, index); }

template <typename Char>
XlsSheet* XlsDocument::InsertSheet(const Char* name, int index) {
    if (!UsableName(name) || FindSheet(name) != kNotFound) return nullptr;
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
    worksheet.window2.options &= static_cast<std::uint16_t>(~kSheetSelected);
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
    if (index >= workbook.sheets.size() || !UsableName(name) || FindSheet(name) != kNotFound) return false;
    workbook.sheets[index].name = name;
    return true;
}

bool XlsDocument::SetName(std::size_t index, const wchar_t* name) {
    if (index >= workbook.sheets.size() || !UsableName(name) || FindSheet(name) != kNotFound) return false;
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
