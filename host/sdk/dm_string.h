// A counted reference to a host string.
#pragma once

#include <string>

#include "host/link/dm_link.h"

// Holds one reference to a host string (or none: the absent string, whose
// text is empty). Copying adds a reference; destruction releases it.
class dm_string {
public:
    dm_string() = default;
    // A new host string of text (encoding 0). Throws
    // Gatan::PlugIn::dmplugin_exception when the host fails or is missing.
    explicit dm_string(const std::string& text);
    // A null text gives an empty string.
    explicit dm_string(const char* text);
    // Takes a reference of its own to a borrowed host string (null: absent).
    static dm_string Borrow(DMString* string);

    dm_string(const dm_string& other);
    dm_string(dm_string&& other) noexcept;
    dm_string& operator=(dm_string other) noexcept;
    ~dm_string();

    // The text as bytes. Only encoding code 0 (bytes as they are) is known;
    // another code throws std::invalid_argument. A failed host call throws
    // dmplugin_exception. The absent string gives "".
    std::string ToStdString(int encoding = 0) const;
    DMString* get() const { return string_; }

private:
    DMString* string_ = nullptr;
};
