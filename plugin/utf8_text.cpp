#include "plugin/utf8_text.h"

namespace orvan {

bool DecodeUtf8(const std::string& text, std::wstring& out, std::size_t& bad_offset) {
    out.clear();
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        unsigned long c = 0;
        std::size_t more = 0;
        unsigned long least = 0;
        if (lead < 0x80) {
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            c = lead & 0x1F, more = 1, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            c = lead & 0x0F, more = 2, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            c = lead & 0x07, more = 3, least = 0x10000;
        } else {
            bad_offset = i;
            return false;
        }
        if (n - i - 1 < more) {
            bad_offset = i;
            return false;
        }
        for (std::size_t k = 1; k <= more; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                bad_offset = i;
                return false;
            }
            c = (c << 6) | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            bad_offset = i;
            return false;
        }
        out.push_back(static_cast<wchar_t>(c));
        i += 1 + more;
    }
    return true;
}

std::size_t Utf16Length(const std::wstring& code_points) {
    std::size_t n = 0;
    for (wchar_t c : code_points) n += static_cast<unsigned long>(c) > 0xFFFF ? 2 : 1;
    return n;
}

}  // namespace orvan
