#include "diagnostics/file_utils.h"

#include <cstdarg>
#include <cstdio>

void WriteTextFile(const char* path, const char* format, ...)
{
    if (!path || !format)
        return;
    FILE* file = std::fopen(path, "w");
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fclose(file);
}

bool ReadFileBlock(const char* path, long offset, size_t size, void* buffer)
{
    if (!path || size == 0 || !buffer)
        return false;
    FILE* file = std::fopen(path, "r");
    if (!file)
        return false;
    if (std::fseek(file, offset, SEEK_SET) != 0) {
        std::fclose(file);
        return false;
    }
    size_t got = std::fread(buffer, 1, size, file);
    std::fclose(file);
    return got == size;
}

bool IsBitSet(unsigned value, unsigned bit)
{
    if (bit > 31)
        return false;
    return (value & (1u << bit)) != 0;
}

void SetBit(unsigned char* byte, unsigned bit, bool value)
{
    if (!byte || bit > 7)
        return;
    if (IsBitSet(*byte, bit) == value)
        return;
    *byte = static_cast<unsigned char>(*byte ^ (1u << bit));
}
