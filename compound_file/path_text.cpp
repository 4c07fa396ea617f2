#include "compound_file/path_text.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace CompoundFiles {

namespace {

void AppendUtf16(std::u16string& out, unsigned long c) {
    if (c > 0xFFFF && c <= 0x10FFFF) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c & 0xFFFF));
    }
}

}  // namespace

std::u16string WideToUtf16(const wchar_t* text) {
    std::u16string out;
    if (text == nullptr) return out;
    for (const wchar_t* p = text; *p != 0; ++p) AppendUtf16(out, static_cast<unsigned long>(*p));
    return out;
}

std::vector<wchar_t> Utf16ToWide(const std::u16string& text) {
    std::vector<wchar_t> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned long c = text[i];
        if (sizeof(wchar_t) >= 4 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            const unsigned long low = text[i + 1];
            out.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00)));
            ++i;
        } else {
            out.push_back(static_cast<wchar_t>(c));
        }
    }
    return out;
}

std::u16string NarrowToUtf16(const char* text) {
    std::u16string out;
    if (text == nullptr) return out;
    const std::size_t n = std::strlen(text);
    std::vector<wchar_t> wide(n + 1, 0);
    const std::size_t converted = std::mbstowcs(wide.data(), text, n);
    if (converted == static_cast<std::size_t>(-1)) {
        for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i])));
        return out;
    }
    wide[converted] = 0;
    return WideToUtf16(wide.data());
}

std::vector<char> WideToNarrow(const std::vector<wchar_t>& text) {
    std::vector<char> out;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (wchar_t c : text) {
        const std::size_t n = std::wcrtomb(buffer, c, &state);
        if (n == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t{};
            out.push_back('?');
        } else {
            out.insert(out.end(), buffer, buffer + n);
        }
    }
    return out;
}

}  // namespace CompoundFiles
