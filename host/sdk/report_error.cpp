#include "host/sdk/report_error.h"

#include <exception>
#include <string>

#include "host/sdk/plugin_exception.h"
#include "host/sdk/host_interface.h"

namespace Host {
namespace PlugIn {

namespace {

void Report(int32_t code, const char* text) noexcept {
    if (const HostLink* link = CurrentLink()) link->report_error(link->host, code, text);
}

}  // namespace

int32_t ReportCurrentError(const ErrorContext&) {
    try {
        throw;
    } catch (const plugin_exception& e) {
        Report(e.code(), e.text().empty() ? nullptr : e.text().c_str());
        return e.code();
    } catch (const std::exception& e) {
        Report(HOST_ERROR_STD_EXCEPTION, e.what());
        return HOST_ERROR_STD_EXCEPTION;
    } catch (...) {
        Report(HOST_ERROR_UNKNOWN_EXCEPTION, nullptr);
        return HOST_ERROR_UNKNOWN_EXCEPTION;
    }
}

void ScriptCallScope::EnterScriptCall(const ErrorContext&) noexcept {}
void ScriptCallScope::LeaveScriptCall() noexcept {}

}  // namespace PlugIn
}  // namespace Host
