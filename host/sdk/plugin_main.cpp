#include "host/sdk/plugin_main.h"

#include "host/sdk/plugin_exception.h"
#include "host/sdk/host_interface.h"

namespace Host {
namespace PlugIn {

namespace {
PlugInMain* the_plugin = nullptr;
}

FunctionRef::~FunctionRef() {
    if (function_) {
        if (const HostLink* link = CurrentLink()) link->function_release(link->host, function_);
    }
}

PlugInMain::PlugInMain() { the_plugin = this; }

PlugInMain::~PlugInMain() {
    RemoveAllFunctions();
    if (the_plugin == this) the_plugin = nullptr;
}

PlugInMain* PlugInMain::Instance() { return the_plugin; }

FunctionRef PlugInMain::AddFunction(const char* signature, std::size_t length, LinkHandler handler) {
    const HostLink& link = RequireLink();
    functions_.reserve(functions_.size() + 1);  // so keeping it below cannot fail
    LinkError error = NoError();
    LinkFunction* f = link.function_add(link.host, signature, length, handler, &error);
    ThrowIfFailed(error);
    if (!f) throw plugin_exception(HOST_ERROR_HOST_FUNCTION, "the host registered nothing");
    link.function_add_ref(link.host, f);
    functions_.push_back(f);
    return FunctionRef(f);
}

void PlugInMain::RemoveAllFunctions() noexcept {
    const HostLink* link = CurrentLink();
    if (!link) {
        functions_.clear();
        return;
    }
    while (!functions_.empty()) {
        LinkFunction* f = functions_.back();
        functions_.pop_back();
        link->function_remove(link->host, f);
        link->function_release(link->host, f);
    }
}

void PlugInMain::ForgetFunctions() noexcept { functions_.clear(); }

}  // namespace PlugIn
}  // namespace Host
