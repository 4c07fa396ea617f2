// Little-endian field routines of the BIFF8 records.
//
// One rule for all: a value of type T is read from n bytes at a position as the
// sum of byte[position + i] << 8i, i = 0 .. n-1, where n is the count given by
// the caller or, when the caller gives 0, the width of T (a count above the width
// of T is cut to it). A write stores the low n bytes of the value, least
// significant first.
//
// Raw-buffer forms (compound_file/little_endian.h) trust the caller with the
// bounds; the caller has checked them.
// Vector forms check: a field that does not lie wholly inside the vector is
// refused (Read sets the value to 0 and returns false, Write writes nothing and
// returns false).
#ifndef WORKBOOK_LITTLE_ENDIAN_H
#define WORKBOOK_LITTLE_ENDIAN_H

#include <cstddef>
#include <type_traits>
#include <vector>

#include "compound_file/little_endian.h"

namespace CompoundFiles {
namespace XlsBiff {
namespace LittleEndian {

// The raw-buffer forms are those of the compound-document layer.
using CompoundFiles::LittleEndian::Read;
using CompoundFiles::LittleEndian::Write;

namespace detail {
template <typename T>
size_t FieldWidth(size_t bytes) {
    return (bytes == 0 || bytes > sizeof(T)) ? sizeof(T) : bytes;
}
}  // namespace detail

template <typename T>
bool Read(const std::vector<char>& buffer, T& value, size_t position, size_t bytes = 0) {
    const size_t n = detail::FieldWidth<T>(bytes);
    if (position >= buffer.size() || buffer.size() - position < n) {
        value = 0;
        return false;
    }
    Read(buffer.data(), value, position, n);
    return true;
}

template <typename T>
bool Write(std::vector<char>& buffer, T value, size_t position, size_t bytes = 0) {
    const size_t n = detail::FieldWidth<T>(bytes);
    if (position >= buffer.size() || buffer.size() - position < n) return false;
    Write(buffer.data(), value, position, n);
    return true;
}

// Arrays of count elements from a raw buffer at position: bytes (1 each) or
// 16-bit characters (2 each; a wchar_t holds one 16-bit code unit, written
// with its low 16 bits). The caller has checked the bounds.
void ReadArray(const char* buffer, char* values, size_t position, size_t count);
void ReadArray(const char* buffer, unsigned short* values, size_t position, size_t count);
void ReadArray(const char* buffer, wchar_t* values, size_t position, size_t count);
void WriteArray(char* buffer, const char* values, size_t position, size_t count);
void WriteArray(char* buffer, const unsigned short* values, size_t position, size_t count);
void WriteArray(char* buffer, const wchar_t* values, size_t position, size_t count);

}  // namespace LittleEndian
}  // namespace XlsBiff
}  // namespace CompoundFiles

#endif
