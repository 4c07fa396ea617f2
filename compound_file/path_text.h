#pragma once
// Conversions between the caller's wide and narrow texts and the UTF-16 code
// units of entry names.
#include <string>
#include <vector>

namespace CompoundFiles {

// wchar_t text to UTF-16 (characters above U+FFFF become surrogate pairs).
// A null pointer gives an empty text.
std::u16string WideToUtf16(const wchar_t* text);
// UTF-16 to wchar_t (valid surrogate pairs are joined), without terminator.
std::vector<wchar_t> Utf16ToWide(const std::u16string& text);
// Narrow multibyte text to UTF-16 through mbstowcs; bytes that the locale
// cannot convert are taken one by one as code points 0-255, so no name is
// lost. A null pointer gives an empty text.
std::u16string NarrowToUtf16(const char* text);
// Wide text to narrow multibyte through wcstombs; characters that the
// locale cannot convert become '?'. No terminator is appended.
std::vector<char> WideToNarrow(const std::vector<wchar_t>& text);

}  // namespace CompoundFiles
