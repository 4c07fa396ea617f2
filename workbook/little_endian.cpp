#include "workbook/little_endian.h"

namespace CompoundFiles {
namespace XlsBiff {
namespace LittleEndian {

void ReadArray(const char* buffer, char* values, size_t position, size_t count) {
    for (size_t i = 0; i < count; ++i) values[i] = buffer[position + i];
}

void ReadArray(const char* buffer, unsigned short* values, size_t position, size_t count) {
    for (size_t i = 0; i < count; ++i) Read(buffer, values[i], position + 2 * i, 2);
}

void ReadArray(const char* buffer, wchar_t* values, size_t position, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        unsigned short unit = 0;
        Read(buffer, unit, position + 2 * i, 2);
        values[i] = static_cast<wchar_t>(unit);
    }
}

void WriteArray(char* buffer, const char* values, size_t position, size_t count) {
    for (size_t i = 0; i < count; ++i) buffer[position + i] = values[i];
}

void WriteArray(char* buffer, const unsigned short* values, size_t position, size_t count) {
    for (size_t i = 0; i < count; ++i) Write(buffer, values[i], position + 2 * i, 2);
}

void WriteArray(char* buffer, const wchar_t* values, size_t position, size_t count) {
    for (size_t i = 0; i < count; ++i)
        Write(buffer, static_cast<unsigned short>(static_cast<unsigned long>(values[i]) & 0xFFFFu), position + 2 * i,
              2);
}

}  // namespace LittleEndian
}  // namespace XlsBiff
}  // namespace CompoundFiles
