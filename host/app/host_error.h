// Errors the host raises to its C++ callers (the script runner, tests).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace orvanhost {

// A host error: reported by a module (through the link's report_error) or
// raised by the host itself, e.g. when the module fails its start-up.
// what() is "host error <code>", followed by ": <text>" when there is text.
class HostError : public std::runtime_error {
public:
    HostError(int32_t code, std::string text);
    int32_t code() const { return code_; }
    const std::string& text() const { return text_; }

private:
    int32_t code_;
    std::string text_;
};

// what() for a script's user: a host error without text gets what its code
// means ("host error 28803: the module ended with an exception that carries
// no message"); one with text is what() itself.
std::string Explained(const HostError& error);

// A call the host refuses before it reaches a handler: unknown function,
// wrong number or kind of arguments, a number a parameter cannot hold.
class CallError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A module that cannot be loaded or linked (dlopen/dlsym failure, missing
// entry point, link protocol other than 2).
class ModuleError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace orvanhost
