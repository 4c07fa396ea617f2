#include "plugin/frame.h"

#include <new>
#include <stdexcept>
#include <string>

#include "host/sdk/plugin_exception.h"
#include "host/sdk/results_stream_buff.h"
#include "plugin/streams.h"

namespace orvan {

namespace {

// Throws the host error behind lost Results text, if there was any.
void ThrowIfResultsLost() {
    if (ResultsStream.good()) return;
    ResultsStream.clear();
    int32_t code = 0;
    std::string text;
    if (Host::PlugIn::GetResultsStreamBuff().TakeFailure(&code, &text))
        throw Host::PlugIn::plugin_exception(code, text);
    throw std::runtime_error("Results output failed");
}

}  // namespace

void BeginFramedWork() {
    ResultsStream.clear();
    Host::PlugIn::GetResultsStreamBuff().TakeFailure(nullptr, nullptr);
}

void EndFramedWork() { ThrowIfResultsLost(); }

void ReportCaughtException(const std::exception& e) {
    ResultsStream.clear();
    const char* message = dynamic_cast<const std::bad_alloc*>(&e) ? "bad allocation" : e.what();
    ResultsStream << "exception caught: " << message << std::endl;
    if (!ResultsStream.good()) ThrowIfResultsLost();
}

}  // namespace orvan
