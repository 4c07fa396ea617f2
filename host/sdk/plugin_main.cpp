#include "host/sdk/plugin_main.h"

#include "host/sdk/dmplugin_exception.h"
#include "host/sdk/host_interface.h"

namespace Gatan {
namespace PlugIn {

namespace {
PlugInMain* the_plugin = nullptr;
}

FunctionRef::~FunctionRef() {
    if (function_) {
        if (const DMHostLink* link = CurrentLink()) link->function_release(link->host, function_);
    }
}

PlugInMain::PlugInMain() { the_plugin = this; }

PlugInMain::~PlugInMain() {
    RemoveAllFunctions();
    if (the_plugin == this) the_plugin = nullptr;
}

PlugInMain* PlugInMain::Instance() { return the_plugin; }

FunctionRef PlugInMain::AddFunction(const char* signature, std::size_t length, DMHandler handler) {
    const DMHostLink& link = RequireLink();
    functions_.reserve(functions_.size() + 1);  // so keeping it below cannot fail
    DMError error = NoError();
    DMFunction* f = link.function_add(link.host, signature, length, handler, &error);
    ThrowIfFailed(error);
    if (!f) throw dmplugin_exception(DM_ERROR_HOST_FUNCTION, "the host registered nothing");
    link.function_add_ref(link.host, f);
    functions_.push_back(f);
    return FunctionRef(f);
}

void PlugInMain::RemoveAllFunctions() noexcept {
    const DMHostLink* link = CurrentLink();
    if (!link) {
        functions_.clear();
        return;
    }
    while (!functions_.empty()) {
        DMFunction* f = functions_.back();
        functions_.pop_back();
        link->function_remove(link->host, f);
        link->function_release(link->host, f);
    }
}

void PlugInMain::ForgetFunctions() noexcept { functions_.clear(); }

}  // namespace PlugIn
}  // namespace Gatan
