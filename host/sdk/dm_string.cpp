#include "host/sdk/dm_string.h"

#include <stdexcept>
#include <utility>

#include "host/sdk/dmplugin_exception.h"
#include "host/sdk/host_interface.h"

using Gatan::PlugIn::CurrentLink;
using Gatan::PlugIn::NoError;
using Gatan::PlugIn::RequireLink;
using Gatan::PlugIn::ThrowIfFailed;

dm_string::dm_string(const std::string& text) {
    const DMHostLink& link = RequireLink();
    DMError error = NoError();
    DMString* s = link.string_create(link.host, text.data(), text.size(), 0, &error);
    ThrowIfFailed(error);
    string_ = s;
}

dm_string::dm_string(const char* text) : dm_string(std::string(text ? text : "")) {}

dm_string dm_string::Borrow(DMString* string) {
    dm_string s;
    if (string) {
        const DMHostLink& link = RequireLink();
        link.string_add_ref(link.host, string);
        s.string_ = string;
    }
    return s;
}

dm_string::dm_string(const dm_string& other) : string_(other.string_) {
    if (string_) {
        const DMHostLink& link = RequireLink();
        link.string_add_ref(link.host, string_);
    }
}

dm_string::dm_string(dm_string&& other) noexcept : string_(other.string_) { other.string_ = nullptr; }

dm_string& dm_string::operator=(dm_string other) noexcept {
    std::swap(string_, other.string_);
    return *this;
}

dm_string::~dm_string() {
    // Without a host the string went with it.
    if (string_) {
        if (const DMHostLink* link = CurrentLink()) link->string_release(link->host, string_);
    }
}

std::string dm_string::ToStdString(int encoding) const {
    if (encoding != 0) throw std::invalid_argument("unknown string encoding " + std::to_string(encoding));
    if (!string_) return std::string();
    const DMHostLink& link = RequireLink();
    DMError error = NoError();
    std::size_t length = 0;
    const char* text = link.string_text(link.host, string_, &length, &error);
    ThrowIfFailed(error);
    return text ? std::string(text, length) : std::string();
}
