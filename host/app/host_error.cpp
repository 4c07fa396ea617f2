#include "host/app/host_error.h"

#include "host/link/host_link.h"

namespace orvanhost {

namespace {
std::string Describe(int32_t code, const std::string& text) {
    std::string s = "host error " + std::to_string(code);
    if (!text.empty()) s += ": " + text;
    return s;
}
}  // namespace

HostError::HostError(int32_t code, std::string text)
    : std::runtime_error(Describe(code, text)), code_(code), text_(std::move(text)) {}

std::string Explained(const HostError& error) {
    if (!error.text().empty()) return error.what();
    const char* meaning = nullptr;
    switch (error.code()) {
        case HOST_ERROR_STD_EXCEPTION:
            meaning = "the module ended with a standard exception that carries no message";
            break;
        case HOST_ERROR_HOST_FUNCTION: meaning = "a host function the module called failed"; break;
        case HOST_ERROR_PLUGIN_VERSION: meaning = "the module needs a newer host"; break;
        case HOST_ERROR_UNKNOWN_EXCEPTION:
            meaning = "the module ended with an exception that carries no message";
            break;
        case HOST_ERROR_BAD_SIGNATURE: meaning = "the module registered a function the host cannot read"; break;
        default: return error.what();
    }
    return Describe(error.code(), meaning);
}

}  // namespace orvanhost
