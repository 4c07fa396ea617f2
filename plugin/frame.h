// The call frame every framed handler runs its work in.
#pragma once

#include <exception>

#include "host/sdk/report_error.h"

namespace orvan {

// Writes "exception caught: " + the message + std::endl to ResultsStream
// ("bad allocation" for an allocation failure, whatever the library's own
// text). Throws when the line cannot be shown.
void ReportCaughtException(const std::exception& e);
// Before the work: a Results stream left bad by an earlier call is made
// good again.
void BeginFramedWork();
// After the work: throws the host's error when Results text was lost.
void EndFramedWork();

// Runs work() inside the script-call scope: a standard exception becomes
// one Results line (ReportCaughtException); anything else, and any failure
// while writing that line, goes to ReportCurrentError (thrown text and
// numbers: host error 28803). Never throws. A float handler sets its result
// before and returns it after; the frame does not touch it. What the work
// wrote before an exception stays written.
template <typename Work>
void RunFramed(Work&& work) noexcept {
    Host::PlugIn::ErrorContext context;
    Host::PlugIn::ScriptCallScope scope;
    scope.EnterScriptCall(context);
    try {
        try {
            BeginFramedWork();
            work();
            EndFramedWork();
        } catch (const std::exception& e) {
            ReportCaughtException(e);
        }
    } catch (...) {
        Host::PlugIn::ReportCurrentError(context);
    }
    scope.LeaveScriptCall();
}

}  // namespace orvan
