// Handing exceptions to the host as host errors, and the script-call scope.
#pragma once

#include <cstdint>

namespace Host {
namespace PlugIn {

// Where an error is reported; the empty context means "the host's current
// one", the only kind there is here.
struct ErrorContext {};

// Must be called inside a catch clause. Rethrows the exception in flight
// and reports it to the host: a plugin_exception as the host error it
// carries; another standard exception as HOST_ERROR_STD_EXCEPTION with its
// what() text; anything else as HOST_ERROR_UNKNOWN_EXCEPTION (28803) without
// text. Returns the code reported (also when there is no host to report
// it to). Never throws.
int32_t ReportCurrentError(const ErrorContext& context = ErrorContext());

// Brackets one script function's work. It has no effect of its own.
class ScriptCallScope {
public:
    void EnterScriptCall(const ErrorContext& context) noexcept;
    void LeaveScriptCall() noexcept;
};

}  // namespace PlugIn
}  // namespace Host
