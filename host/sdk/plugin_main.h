// The base class of a module's one plug-in object.
#pragma once

#include <cstddef>
#include <vector>

#include "host/link/host_link.h"

namespace Host {
namespace Win32 {

class PlugInMain {
public:
    virtual ~PlugInMain() = default;
};

}  // namespace Win32

namespace PlugIn {

// A counted reference to a registered script function. Releasing it does
// not withdraw the function.
class FunctionRef {
public:
    FunctionRef() = default;
    explicit FunctionRef(LinkFunction* adopted) : function_(adopted) {}
    FunctionRef(const FunctionRef&) = delete;
    FunctionRef& operator=(const FunctionRef&) = delete;
    FunctionRef(FunctionRef&& other) noexcept : function_(other.function_) { other.function_ = nullptr; }
    ~FunctionRef();
    LinkFunction* get() const { return function_; }

private:
    LinkFunction* function_ = nullptr;
};

// Constructing the object records it as the module's plug-in; the module's
// entry points drive it. The destructor withdraws every function still
// registered, the last registered first.
class PlugInMain : public Win32::PlugInMain {
public:
    PlugInMain();
    PlugInMain(const PlugInMain&) = delete;
    PlugInMain& operator=(const PlugInMain&) = delete;
    ~PlugInMain() override;

    virtual void Start() {}
    virtual void Run() {}
    virtual void Cleanup() {}
    virtual void End() {}

    // Registers a script function: the signature's characters (no
    // terminating zero needed) and the handler's address. Returns a counted
    // reference to the host's function object; the registration itself is
    // kept here for withdrawal. Throws plugin_exception when the host
    // refuses (e.g. a signature it cannot read) or is missing.
    FunctionRef AddFunction(const char* signature, std::size_t length, LinkHandler handler);
    template <std::size_t N, typename R, typename... Args>
    FunctionRef AddFunction(const char (&signature)[N], R (*handler)(Args...)) {
        return AddFunction(signature, N - 1, reinterpret_cast<LinkHandler>(handler));
    }

    // Withdraws every registered function from the host, last registered
    // first. Never throws.
    void RemoveAllFunctions() noexcept;
    // Drops the registrations without telling the host (it is gone).
    void ForgetFunctions() noexcept;
    std::size_t RegisteredCount() const { return functions_.size(); }

    // The module's plug-in object, or null.
    static PlugInMain* Instance();

private:
    std::vector<LinkFunction*> functions_;  // one reference each
};

}  // namespace PlugIn
}  // namespace Host
