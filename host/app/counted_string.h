// Host strings: reference-counted byte strings with an encoding code.
#pragma once

#include <cstdint>
#include <string>

#include "host/link/host_link.h"

namespace orvanhost {

class HostString {
public:
    HostString(const HostString&) = delete;
    HostString& operator=(const HostString&) = delete;

    // A new string with one reference.
    static HostString* Create(std::string text, uint32_t encoding = 0);
    void AddRef() { ++refs_; }
    void Release();  // deletes the string at the last reference
    long RefCount() const { return refs_; }
    const std::string& Text() const { return text_; }
    uint32_t Encoding() const { return encoding_; }

    static long LiveCount();  // strings alive in this process

private:
    HostString(std::string text, uint32_t encoding);
    ~HostString();
    std::string text_;
    uint32_t encoding_;
    long refs_ = 1;
};

// A counted reference to a host string; copy adds, destruction releases.
class StringPtr {
public:
    StringPtr() = default;
    explicit StringPtr(std::string text);  // a new string
    StringPtr(const StringPtr& other);
    StringPtr(StringPtr&& other) noexcept;
    StringPtr& operator=(StringPtr other) noexcept;
    ~StringPtr();
    HostString* get() const { return string_; }
    HostString* operator->() const { return string_; }
    explicit operator bool() const { return string_ != nullptr; }

private:
    HostString* string_ = nullptr;
};

inline LinkString* ToLink(HostString* s) { return reinterpret_cast<LinkString*>(s); }
inline HostString* FromLink(LinkString* s) { return reinterpret_cast<HostString*>(s); }

}  // namespace orvanhost
