#include "host/app/host.h"

#include <dlfcn.h>

#include <cstdio>

#include "host/app/link_table.h"

namespace orvanhost {

HostProgram::HostProgram() {
    link_.version = kDefaultVersion;
    FillLinkTable(&link_, this);
}

HostProgram::~HostProgram() {
    try {
        UnloadModule();
    } catch (...) {
    }
}

namespace {

template <typename F>
F Symbol(void* handle, const char* name, const std::string& path) {
    dlerror();
    void* p = dlsym(handle, name);
    if (!p) throw ModuleError(path + " has no entry point " + name);
    return reinterpret_cast<F>(p);
}

}  // namespace

void HostProgram::LoadModule(const std::string& path) {
    if (has_module_) throw ModuleError("a module is already loaded");
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        throw ModuleError("cannot load " + path + ": " + (why ? why : "unknown reason"));
    }
    EntryPoints ep;
    try {
        ep.get_version = Symbol<HostPlugIn_GetVersion_Fn>(handle, "HostPlugIn_GetVersion", path);
        ep.link = Symbol<HostPlugIn_Link_2_Fn>(handle, "HostPlugIn_Link_2", path);
        ep.startup = Symbol<HostPlugIn_Step_Fn>(handle, "PlugInStartup", path);
        ep.run = Symbol<HostPlugIn_Step_Fn>(handle, "PlugInRun", path);
        ep.cleanup = Symbol<HostPlugIn_Step_Fn>(handle, "PlugInCleanup", path);
        ep.shutdown = Symbol<HostPlugIn_Step_Fn>(handle, "PlugInShutdown", path);
        const uint32_t protocol = ep.get_version();
        if (protocol != HOST_LINK_PROTOCOL)
            throw ModuleError(path + " speaks link protocol " + std::to_string(protocol) + ", not 2");
    } catch (...) {
        dlclose(handle);
        throw;
    }
    dl_handle_ = handle;
    dl_path_ = path;
    entry_ = ep;
    has_module_ = true;
    entry_.link(&link_, 0);
    StartModule();
}

void HostProgram::AttachModule(const EntryPoints& ep) {
    if (has_module_) throw ModuleError("a module is already loaded");
    if (!ep.get_version || !ep.link || !ep.startup || !ep.run || !ep.cleanup || !ep.shutdown)
        throw ModuleError("an entry point is missing");
    const uint32_t protocol = ep.get_version();
    if (protocol != HOST_LINK_PROTOCOL)
        throw ModuleError("the module speaks link protocol " + std::to_string(protocol) + ", not 2");
    entry_ = ep;
    has_module_ = true;
    entry_.link(&link_, 0);
    StartModule();
}

void HostProgram::StartStep(HostPlugIn_Step_Fn step, const char* what) {
    if (!has_module_) throw ModuleError(std::string("no module to ") + what);
    const int32_t code = step();
    ThrowPendingError();
    if (code != 0) throw HostError(code, "");
}

void HostProgram::StartModule() { StartStep(entry_.startup, "start"); }
void HostProgram::RunModule() { StartStep(entry_.run, "run"); }
void HostProgram::CleanupModule() { StartStep(entry_.cleanup, "clean up"); }
void HostProgram::ShutdownModule() { StartStep(entry_.shutdown, "shut down"); }

int32_t HostProgram::StartModuleUnlinked() {
    if (!has_module_) throw ModuleError("no module to start");
    entry_.link(nullptr, 0);
    const int32_t code = entry_.startup();
    entry_.link(&link_, 0);
    return code;
}

void HostProgram::UnloadModule() {
    if (!has_module_) return;
    if (dl_handle_) {
        dlclose(dl_handle_);
        dl_handle_ = nullptr;
        // A module the loader keeps resident must not call this host later.
        if (void* still = dlopen(dl_path_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {
            if (void* link = dlsym(still, "HostPlugIn_Link_2"))
                reinterpret_cast<HostPlugIn_Link_2_Fn>(link)(nullptr, 0);
            dlclose(still);
        }
    } else {
        entry_.link(nullptr, 0);
    }
    has_module_ = false;
    entry_ = EntryPoints{};
    // Whatever the module left registered points into code that is gone.
    library_.DropAll();
}

void HostProgram::ClearResults() {
    results_.clear();
    result_calls_.clear();
}

void HostProgram::ShowResult(std::string_view text) {
    if (keep_results_) {
        results_.append(text);
        result_calls_.emplace_back(text);
    }
    if (sink_) sink_(text);
}

void HostProgram::ReportError(int32_t code, std::string text) {
    HostError e(code, std::move(text));
    error_log_.push_back(e);
    if (!pending_error_) pending_error_ = e;  // the first error of a call stops it
}

std::optional<HostError> HostProgram::TakeError() {
    std::optional<HostError> e = std::move(pending_error_);
    pending_error_.reset();
    return e;
}

void HostProgram::ThrowPendingError() {
    if (std::optional<HostError> e = TakeError()) throw *e;
}

void HostProgram::FailOnce(const std::string& host_function, std::string message, int skip) {
    if (message.empty()) message = host_function + " failed";
    injections_.emplace(host_function, Injection{skip, std::move(message)});
}

bool HostProgram::ShouldFail(const char* host_function, LinkError* error) {
    auto it = injections_.find(host_function);
    if (it == injections_.end()) return false;
    if (it->second.skip > 0) {
        --it->second.skip;
        return false;
    }
    if (error) {
        error->code = HOST_ERROR_HOST_FUNCTION;
        std::snprintf(error->text, sizeof error->text, "%s", it->second.message.c_str());
    }
    injections_.erase(it);
    return true;
}

void HostProgram::SetKeyDown(int virtual_key, bool down) {
    KeyState& k = keys_[virtual_key];
    if (down && !k.down) k.pressed_since_query = true;
    k.down = down;
}

int16_t HostProgram::AsyncKeyState(int virtual_key) {
    key_queries_.push_back(virtual_key);
    KeyState& k = keys_[virtual_key];
    const uint16_t word = static_cast<uint16_t>((k.down ? 0x8000u : 0u) | (k.pressed_since_query ? 1u : 0u));
    k.pressed_since_query = false;
    return static_cast<int16_t>(word);
}

void HostProgram::KeyEventCall(const KeyEvent& event) { key_events_.push_back(event); }

}  // namespace orvanhost
