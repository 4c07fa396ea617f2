#include "host/app/host_error.h"

namespace dmhost {

namespace {
std::string Describe(int32_t code, const std::string &text) {
  std::string s = "host error " + std::to_string(code);
  if (!text.empty()) s += ": " + text;
  return s;
}
}  // namespace

HostError::HostError(int32_t code, std::string text)
    : std::runtime_error(Describe(code, text)), code_(code), text_(std::move(text)) {}

}  // namespace dmhost
