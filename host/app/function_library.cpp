#include "host/app/function_library.h"

#include <algorithm>
#include <stdexcept>

namespace dmhost {

FunctionLibrary::~FunctionLibrary() {
  // References a module still holds die with the host: the host unloads or
  // unlinks its module before the library goes, so none is used later.
  for (FunctionEntry *e : registered_) delete e;
  for (FunctionEntry *e : withdrawn_) delete e;
}

FunctionEntry *FunctionLibrary::Add(std::string_view signature, DMHandler handler) {
  if (!handler) throw std::invalid_argument("no handler for \"" + std::string(signature) + "\"");
  auto *e = new FunctionEntry;
  try {
    e->signature = ParseSignature(signature);
  } catch (...) {
    delete e;
    throw;
  }
  e->handler = handler;
  e->refs = 2;  // the library's and the caller's
  registered_.push_back(e);
  return e;
}

void FunctionLibrary::Remove(FunctionEntry *entry) {
  auto it = std::find(registered_.begin(), registered_.end(), entry);
  if (it == registered_.end()) return;
  registered_.erase(it);
  entry->registered = false;
  withdrawals_.push_back(entry->signature.name);
  withdrawn_.push_back(entry);
  Release(entry);
}

void FunctionLibrary::DropAll() {
  std::vector<FunctionEntry *> all;
  all.swap(registered_);
  for (FunctionEntry *e : all) {
    e->registered = false;
    withdrawn_.push_back(e);
    Release(e);
  }
}

void FunctionLibrary::Release(FunctionEntry *entry) {
  // The library's own reference stays while the entry is registered.
  if (entry->registered && entry->refs <= 1) return;
  if (--entry->refs > 0) return;
  auto it = std::find(withdrawn_.begin(), withdrawn_.end(), entry);
  if (it != withdrawn_.end()) withdrawn_.erase(it);
  delete entry;
}

const FunctionEntry *FunctionLibrary::Find(const std::string &name) const {
  for (auto it = registered_.rbegin(); it != registered_.rend(); ++it)
    if ((*it)->signature.name == name) return *it;
  return nullptr;
}

std::vector<const FunctionEntry *> FunctionLibrary::Entries() const {
  return {registered_.begin(), registered_.end()};
}

std::vector<std::string> FunctionLibrary::Names() const {
  std::vector<std::string> names;
  for (const FunctionEntry *e : registered_) names.push_back(e->signature.name);
  return names;
}

}  // namespace dmhost
