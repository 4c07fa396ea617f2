#include "host/sdk/host_string.h"

#include <stdexcept>
#include <utility>

#include "host/sdk/plugin_exception.h"
#include "host/sdk/host_interface.h"

using Host::PlugIn::CurrentLink;
using Host::PlugIn::NoError;
using Host::PlugIn::RequireLink;
using Host::PlugIn::ThrowIfFailed;

host_string::host_string(const std::string& text) {
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    LinkString* s = link.string_create(link.host, text.data(), text.size(), 0, &error);
    ThrowIfFailed(error);
    string_ = s;
}

host_string::host_string(const char* text) : host_string(std::string(text ? text : "")) {}

host_string host_string::Borrow(LinkString* string) {
    host_string s;
    if (string) {
        const HostLink& link = RequireLink();
        link.string_add_ref(link.host, string);
        s.string_ = string;
    }
    return s;
}

host_string::host_string(const host_string& other) : string_(other.string_) {
    if (string_) {
        const HostLink& link = RequireLink();
        link.string_add_ref(link.host, string_);
    }
}

host_string::host_string(host_string&& other) noexcept : string_(other.string_) { other.string_ = nullptr; }

host_string& host_string::operator=(host_string other) noexcept {
    std::swap(string_, other.string_);
    return *this;
}

host_string::~host_string() {
    // Without a host the string went with it.
    if (string_) {
        if (const HostLink* link = CurrentLink()) link->string_release(link->host, string_);
    }
}

std::string host_string::ToStdString(int encoding) const {
    if (encoding != 0) throw std::invalid_argument("unknown string encoding " + std::to_string(encoding));
    if (!string_) return std::string();
    const HostLink& link = RequireLink();
    LinkError error = NoError();
    std::size_t length = 0;
    const char* text = link.string_text(link.host, string_, &length, &error);
    ThrowIfFailed(error);
    return text ? std::string(text, length) : std::string();
}
