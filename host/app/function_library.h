// The host's library of registered script functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/app/signature.h"
#include "host/link/host_link.h"

namespace orvanhost {

// One registration. Reference counted: the library holds one reference while
// the function is registered; the module holds those AddFunction gave it.
struct FunctionEntry {
    Signature signature;
    LinkHandler handler = nullptr;
    long refs = 1;
    bool registered = true;
};

class FunctionLibrary {
public:
    FunctionLibrary() = default;
    FunctionLibrary(const FunctionLibrary&) = delete;
    FunctionLibrary& operator=(const FunctionLibrary&) = delete;
    ~FunctionLibrary();

    // Parses the signature and registers the handler. Returns the entry with
    // one reference for the caller (besides the library's own). Throws
    // std::invalid_argument for a signature that cannot be parsed and for a
    // null handler; nothing is registered then.
    FunctionEntry* Add(std::string_view signature, LinkHandler handler);
    // Withdraws a registered entry (logged in Withdrawals()); a second
    // withdrawal of the same entry does nothing. Never throws (a module calls
    // it from static destructors); out of memory, the log may miss the name.
    void Remove(FunctionEntry* entry) noexcept;
    // Unregisters everything without logging (the module is gone).
    void DropAll() noexcept;
    static void AddRef(FunctionEntry* entry) noexcept { ++entry->refs; }
    void Release(FunctionEntry* entry) noexcept;

    // The registered function of that name; when a name is registered more
    // than once, the latest registration. Null when none.
    const FunctionEntry* Find(const std::string& name) const;
    // Registered functions in registration order.
    std::vector<const FunctionEntry*> Entries() const;
    std::vector<std::string> Names() const;
    // Names in the order they were withdrawn.
    const std::vector<std::string>& Withdrawals() const { return withdrawals_; }

private:
    std::vector<FunctionEntry*> registered_;  // library's references
    std::vector<FunctionEntry*> withdrawn_;   // still referenced elsewhere
    std::vector<std::string> withdrawals_;
};

}  // namespace orvanhost
