// A counted reference to a host string.
#pragma once

#include <string>

#include "host/link/host_link.h"

// Holds one reference to a host string (or none: the absent string, whose
// text is empty). Copying adds a reference; destruction releases it.
class host_string {
public:
    host_string() = default;
    // A new host string of text (encoding 0). Throws
    // Host::PlugIn::plugin_exception when the host fails or is missing.
    explicit host_string(const std::string& text);
    // A null text gives an empty string.
    explicit host_string(const char* text);
    // Takes a reference of its own to a borrowed host string (null: absent).
    static host_string Borrow(LinkString* string);

    host_string(const host_string& other);
    host_string(host_string&& other) noexcept;
    host_string& operator=(host_string other) noexcept;
    ~host_string();

    // The text as bytes. Only encoding code 0 (bytes as they are) is known;
    // another code throws std::invalid_argument. A failed host call throws
    // plugin_exception. The absent string gives "".
    std::string ToStdString(int encoding = 0) const;
    LinkString* get() const { return string_; }

private:
    LinkString* string_ = nullptr;
};
