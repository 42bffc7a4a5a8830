#pragma once
#include <cstdint>

// Writes the current directory (no trailing "/") into buffer; returns its length, or 0 when it
// cannot be read or does not fit (then buffer holds an empty string when size allows).
uint32_t GetCurrentDirectoryA(uint32_t bufferLength, char* buffer);
