#include "host/sdk/results_stream_buff.h"

#include <cstring>
#include <exception>

#include "host/sdk/host_string.h"
#include "host/sdk/plugin_exception.h"
#include "host/sdk/host_interface.h"
#include "host/sdk/image_ref.h"

namespace Host {
namespace PlugIn {

namespace {
constexpr std::size_t kCapacity = ResultsStreamBuff::kBufferSize - 1;
}

ResultsStreamBuff::ResultsStreamBuff() {
    buffer_[kCapacity] = '\0';
    setp(buffer_, buffer_ + kCapacity);
}

ResultsStreamBuff::~ResultsStreamBuff() {
    if (CurrentLink()) HandOverCollected();
}

bool ResultsStreamBuff::TakeFailure(int32_t* code, std::string* text) {
    if (!failed_) return false;
    failed_ = false;
    if (code) *code = failure_code_;
    if (text) text->swap(failure_text_);
    failure_text_.clear();
    return true;
}

bool ResultsStreamBuff::HandOver(const char* text, std::size_t length) noexcept {
    try {
        Host::Result(host_string(std::string(text, length)));
        return true;
    } catch (const plugin_exception& e) {
        failure_code_ = e.code();
        try {
            failure_text_ = e.text();
        } catch (...) {
            failure_text_.clear();
        }
    } catch (...) {
        failure_code_ = HOST_ERROR_HOST_FUNCTION;
        failure_text_.clear();
    }
    failed_ = true;
    return false;
}

bool ResultsStreamBuff::HandOverCollected() noexcept {
    const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
    if (n == 0) return true;
    *pptr() = '\0';
    setp(buffer_, buffer_ + kCapacity);  // collected text is gone either way
    return HandOver(buffer_, n);
}

ResultsStreamBuff::int_type ResultsStreamBuff::overflow(int_type c) {
    if (!HandOverCollected()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize ResultsStreamBuff::xsputn(const char* s, std::streamsize n) {
    if (n <= 0) return 0;
    const std::size_t count = static_cast<std::size_t>(n);
    const std::size_t room = static_cast<std::size_t>(epptr() - pptr());
    if (count <= room) {
        std::memcpy(pptr(), s, count);
        pbump(static_cast<int>(count));
        return n;
    }
    if (!HandOverCollected()) return 0;
    if (count <= kCapacity) {
        std::memcpy(pptr(), s, count);
        pbump(static_cast<int>(count));
        return n;
    }
    return HandOver(s, count) ? n : 0;
}

int ResultsStreamBuff::sync() { return HandOverCollected() ? 0 : -1; }

ResultsStreamBuff& GetResultsStreamBuff() {
    static ResultsStreamBuff buffer;
    return buffer;
}

}  // namespace PlugIn
}  // namespace Host
