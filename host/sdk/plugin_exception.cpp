#include "host/sdk/plugin_exception.h"

#include <cstring>

namespace Host {
namespace PlugIn {

plugin_exception::plugin_exception(int32_t code, std::string text) : code_(code), text_(std::move(text)) {
    what_ = text_.empty() ? "host error " + std::to_string(code_) : text_;
}

void ThrowIfFailed(const LinkError& error) {
    if (error.code == 0) return;
    // The host writes a terminated text; read no further than the array.
    const std::size_t n = strnlen(error.text, sizeof error.text);
    throw plugin_exception(error.code, std::string(error.text, n));
}

}  // namespace PlugIn
}  // namespace Host
