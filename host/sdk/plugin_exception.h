// The exception a failed host call becomes inside a module.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "host/link/host_link.h"

namespace Host {
namespace PlugIn {

// A host error carried as a standard exception: the host's code and
// message. what() is the message, or "host error <code>" when it has none.
class plugin_exception : public std::exception {
public:
    plugin_exception(int32_t code, std::string text);
    int32_t code() const noexcept { return code_; }
    const std::string& text() const noexcept { return text_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    int32_t code_;
    std::string text_;
    std::string what_;
};

// Throws the plugin_exception *error describes when its code is not 0.
void ThrowIfFailed(const LinkError& error);

}  // namespace PlugIn
}  // namespace Host
