// The host's 8-bit script text is UTF-8 on this platform; workbook strings
// are UTF-16. This turns the one into code points for the other.
#ifndef PLUGIN_UTF8_TEXT_H
#define PLUGIN_UTF8_TEXT_H

#include <cstddef>
#include <string>

namespace orvan {

// Decodes UTF-8 into code points, one per wchar_t element. Fails (false,
// out unspecified, bad_offset = the byte offset where the first invalid
// sequence starts) on a stray or missing continuation byte, an overlong
// form, a surrogate or a value above U+10FFFF.
bool DecodeUtf8(const std::string& text, std::wstring& out, std::size_t& bad_offset);

// UTF-16 code units the code points take (two above U+FFFF).
std::size_t Utf16Length(const std::wstring& code_points);

}  // namespace orvan

#endif
