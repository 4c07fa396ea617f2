// The stream buffer whose text goes to the host's Results window.
#pragma once

#include <cstdint>
#include <streambuf>
#include <string>

namespace Host {
namespace PlugIn {

// Collects characters in a 256-byte put buffer (255 characters and room for
// a terminating zero) and hands the collected text to the host's
// "void Result( host_string )" when the buffer is full, when a write does not
// fit into the rest of it, and on flush. A write longer than the buffer
// goes over in one piece. A failed hand-over never throws: the text is
// dropped, the stream sees a failure (and goes bad), and the host's error
// is kept for TakeFailure().
class ResultsStreamBuff : public std::streambuf {
public:
    static constexpr std::size_t kBufferSize = 256;

    ResultsStreamBuff();
    ResultsStreamBuff(const ResultsStreamBuff&) = delete;
    ResultsStreamBuff& operator=(const ResultsStreamBuff&) = delete;
    ~ResultsStreamBuff() override;  // hands over what is left, if a host is there

    // The host error of the last failed hand-over, cleared by the call.
    // Returns false when there was none.
    bool TakeFailure(int32_t* code, std::string* text);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    bool HandOver(const char* text, std::size_t length) noexcept;
    bool HandOverCollected() noexcept;

    char buffer_[kBufferSize];
    bool failed_ = false;
    int32_t failure_code_ = 0;
    std::string failure_text_;
};

// The SDK's one results stream buffer, made on first use.
ResultsStreamBuff& GetResultsStreamBuff();

}  // namespace PlugIn
}  // namespace Host
