#pragma once
// Little-endian field routines shared by the compound-document layer and the
// BIFF record layer. LittleEndian is a namespace so that other layers can add
// their own forms (vector-checked, array) beside these raw-buffer ones.
#include <cstddef>
#include <cstdint>

namespace CompoundFiles {
namespace LittleEndian {

namespace detail {
template <typename T>
inline std::size_t Width(std::size_t count) {
    // A count wider than T would shift bits out of the value: clamp it.
    return (count == 0 || count > sizeof(T)) ? sizeof(T) : count;
}
}  // namespace detail

// Clears value, then ORs in `count` bytes from buffer[position], the first byte
// as the least significant. count 0 means sizeof(T); a count above sizeof(T) is
// clamped to it. The buffer must hold position + count bytes (not checked).
template <typename T>
inline void Read(const unsigned char* buffer, T& value, std::size_t position, std::size_t count = 0) {
    const std::size_t n = detail::Width<T>(count);
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(buffer[position + i]) << (8 * i);
    value = static_cast<T>(v);
}

template <typename T>
inline void Read(const char* buffer, T& value, std::size_t position, std::size_t count = 0) {
    Read<T>(reinterpret_cast<const unsigned char*>(buffer), value, position, count);
}

// Stores the low `count` bytes of value at buffer[position], least significant
// first (count 0 means sizeof(T), larger counts are clamped). The buffer must
// hold position + count bytes (not checked).
template <typename T>
inline void Write(unsigned char* buffer, T value, std::size_t position, std::size_t count = 0) {
    const std::size_t n = detail::Width<T>(count);
    std::uint64_t v = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < n; ++i) {
        buffer[position + i] = static_cast<unsigned char>(v & 0xFFu);
        v >>= 8;
    }
}

template <typename T>
inline void Write(char* buffer, T value, std::size_t position, std::size_t count = 0) {
    Write<T>(reinterpret_cast<unsigned char*>(buffer), value, position, count);
}

}  // namespace LittleEndian
}  // namespace CompoundFiles
