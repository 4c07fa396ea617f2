#include "workbook/sheet_cell.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <cwchar>

namespace CompoundFiles {

namespace {

int TruncateToInt(double d) {
    // Only values strictly inside (INT_MIN - 1, INT_MAX + 1) truncate to an int.
    if (!(d > static_cast<double>(INT_MIN) - 1.0 && d < static_cast<double>(INT_MAX) + 1.0)) return INT_MIN;
    return static_cast<int>(d);
}

void AppendCodePoint(std::vector<char>& out, unsigned long c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// UTF-8 of a zero-terminated wide text held as UTF-16 code units (a whole
// code point in one element is taken as it is).
std::vector<char> Utf8Of(const wchar_t* units) {
    std::vector<char> out;
    for (size_t i = 0; units[i] != 0; ++i) {
        unsigned long c = static_cast<unsigned long>(units[i]);
        if (c > 0x10FFFF) {
            c = 0xFFFD;
        } else if (c >= 0xD800 && c < 0xDC00) {
            const unsigned long low = static_cast<unsigned long>(units[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xDC00 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendCodePoint(out, c);
    }
    return out;
}

}  // namespace

const char* SheetCell::ErrorText(std::uint8_t code) {
    switch (code) {
        case ErrorNull: return "#NULL!";
        case ErrorDivZero: return "#DIV/0!";
        case ErrorValue: return "#VALUE!";
        case ErrorRef: return "#REF!";
        case ErrorName: return "#NAME?";
        case ErrorNum: return "#NUM!";
        case ErrorNA: return "#N/A";
        default: return nullptr;
    }
}

bool SheetCell::Get(int& value) const {
    if (type == Integer || type == Boolean) {
        value = integerValue;
        return true;
    }
    if (type == Real) {
        value = TruncateToInt(doubleValue);
        return true;
    }
    return false;
}

bool SheetCell::Get(double& value) const {
    if (type == Real) {
        value = doubleValue;
        return true;
    }
    if (type == Integer || type == Boolean) {
        value = static_cast<double>(integerValue);
        return true;
    }
    return false;
}

bool SheetCell::Get(char* buffer) const {
    if (type != Text || buffer == nullptr) return false;
    std::memcpy(buffer, text.data(), text.size());
    return true;
}

bool SheetCell::Get(wchar_t* buffer) const {
    if (type != WideText || buffer == nullptr) return false;
    std::wmemcpy(buffer, wide.data(), wide.size());
    return true;
}

bool SheetCell::Get(char* buffer, std::size_t capacity) const {
    if (type != Text || capacity < text.size()) return false;
    return Get(buffer);
}

bool SheetCell::Get(wchar_t* buffer, std::size_t capacity) const {
    if (type != WideText || capacity < wide.size()) return false;
    return Get(buffer);
}

std::size_t SheetCell::TextLength() const {
    if (type == Text) return text.empty() ? 0 : text.size() - 1;
    return wide.empty() ? 0 : wide.size() - 1;
}

int SheetCell::GetInt() const {
    int value = 0;
    return Get(value) ? value : 0;
}

double SheetCell::GetDouble() const {
    double value = 0.0;
    return Get(value) ? value : 0.0;
}

const char* SheetCell::GetText() const { return type == Text ? text.data() : nullptr; }

const wchar_t* SheetCell::GetWideText() const { return type == WideText ? wide.data() : nullptr; }

void SheetCell::SetInt(int value) {
    type = Integer;
    xf = 0;
    integerValue = value;
}

void SheetCell::SetReal(double value) {
    type = Real;
    xf = 0;
    doubleValue = value;
}

void SheetCell::SetBoolean(bool value) {
    Clear();
    type = Boolean;
    integerValue = value ? 1 : 0;
}

void SheetCell::SetError(std::uint8_t code) {
    Clear();
    type = Error;
    integerValue = code;
}

void SheetCell::SetText(const char* value) {
    if (value == nullptr || value[0] == 0) {
        Clear();
        return;
    }
    text.assign(value, value + std::strlen(value) + 1);
    wide.clear();
    type = Text;
    xf = 0;
}

void SheetCell::SetWideText(const wchar_t* value) {
    if (value == nullptr || value[0] == 0) {
        Clear();
        return;
    }
    wide.assign(value, value + std::wcslen(value) + 1);
    text.clear();
    type = WideText;
    xf = 0;
}

void SheetCell::Clear() {
    type = Empty;
    xf = 0;
    text.clear();
    wide.clear();
}

std::ostream& operator<<(std::ostream& out, const SheetCell& cell) {
    switch (cell.Type()) {
        case SheetCell::Integer: out << cell.GetInt(); break;
        case SheetCell::Real: out << cell.GetDouble(); break;
        case SheetCell::Text: out << cell.GetText(); break;
        case SheetCell::WideText: {
            const std::vector<char> utf8 = Utf8Of(cell.GetWideText());
            out.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
            break;
        }
        case SheetCell::Boolean: out << (cell.GetInt() != 0 ? "TRUE" : "FALSE"); break;
        case SheetCell::Error:
            if (const char* text = SheetCell::ErrorText(cell.ErrorCode())) out << text;
            break;
        default: out << '\0'; break;
    }
    return out;
}

}  // namespace CompoundFiles
