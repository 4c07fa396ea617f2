#include "host/app/function_library.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace orvanhost {

namespace {

// Room for `count` pointers, grown geometrically.
void Reserve(std::vector<FunctionEntry*>& v, std::size_t count) {
    if (v.capacity() < count) v.reserve(std::max(count, 2 * v.capacity()));
}

}  // namespace

FunctionLibrary::~FunctionLibrary() {
    // References a module still holds die with the host: the host unloads or
    // unlinks its module before the library goes, so none is used later.
    for (FunctionEntry* e : registered_) delete e;
    for (FunctionEntry* e : withdrawn_) delete e;
}

FunctionEntry* FunctionLibrary::Add(std::string_view signature, LinkHandler handler) {
    if (!handler) throw std::invalid_argument("no handler for \"" + std::string(signature) + "\"");
    auto e = std::make_unique<FunctionEntry>();
    e->signature = ParseSignature(signature);
    e->handler = handler;
    e->refs = 2;  // the library's and the caller's
    // Withdrawing, which a module does from its static destructors, moves an
    // entry into withdrawn_ and must not allocate: room for every entry now.
    Reserve(registered_, registered_.size() + 1);
    Reserve(withdrawn_, withdrawn_.size() + registered_.size() + 1);
    registered_.push_back(e.get());
    return e.release();
}

void FunctionLibrary::Remove(FunctionEntry* entry) noexcept {
    auto it = std::find(registered_.begin(), registered_.end(), entry);
    if (it == registered_.end()) return;
    registered_.erase(it);
    entry->registered = false;
    try {
        withdrawals_.push_back(entry->signature.name);
    } catch (...) {
        // Out of memory: the log misses this name; the withdrawal stands.
    }
    withdrawn_.push_back(entry);
    Release(entry);
}

void FunctionLibrary::DropAll() noexcept {
    std::vector<FunctionEntry*> all;
    all.swap(registered_);
    for (FunctionEntry* e : all) {
        e->registered = false;
        withdrawn_.push_back(e);
        Release(e);
    }
}

void FunctionLibrary::Release(FunctionEntry* entry) noexcept {
    // The library's own reference stays while the entry is registered.
    if (entry->registered && entry->refs <= 1) return;
    if (--entry->refs > 0) return;
    auto it = std::find(withdrawn_.begin(), withdrawn_.end(), entry);
    if (it != withdrawn_.end()) withdrawn_.erase(it);
    delete entry;
}

const FunctionEntry* FunctionLibrary::Find(const std::string& name) const {
    for (auto it = registered_.rbegin(); it != registered_.rend(); ++it)
        if ((*it)->signature.name == name) return *it;
    return nullptr;
}

std::vector<const FunctionEntry*> FunctionLibrary::Entries() const { return {registered_.begin(), registered_.end()}; }

std::vector<std::string> FunctionLibrary::Names() const {
    std::vector<std::string> names;
    for (const FunctionEntry* e : registered_) names.push_back(e->signature.name);
    return names;
}

}  // namespace orvanhost
