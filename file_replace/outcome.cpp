#include "file_replace/outcome.h"

#include <cctype>
#include <cstring>

namespace FileReplace {

std::string NamedCause(const Outcome& outcome) { return NamedCause(outcome.error); }

std::string NamedCause(int error) {
    if (error == 0) return "";
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace FileReplace
