#include "host/app/counted_string.h"

#include <atomic>

namespace orvanhost {

namespace {
std::atomic<long> live_strings{0};
}

HostString::HostString(std::string text, uint32_t encoding) : text_(std::move(text)), encoding_(encoding) {
    ++live_strings;
}

HostString::~HostString() { --live_strings; }

HostString* HostString::Create(std::string text, uint32_t encoding) {
    return new HostString(std::move(text), encoding);
}

void HostString::Release() {
    if (--refs_ == 0) delete this;
}

long HostString::LiveCount() { return live_strings.load(); }

StringPtr::StringPtr(std::string text) : string_(HostString::Create(std::move(text))) {}

StringPtr::StringPtr(const StringPtr& other) : string_(other.string_) {
    if (string_) string_->AddRef();
}

StringPtr::StringPtr(StringPtr&& other) noexcept : string_(other.string_) { other.string_ = nullptr; }

StringPtr& StringPtr::operator=(StringPtr other) noexcept {
    std::swap(string_, other.string_);
    return *this;
}

StringPtr::~StringPtr() {
    if (string_) string_->Release();
}

}  // namespace orvanhost
