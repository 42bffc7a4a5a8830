#pragma once
#include <cstddef>

void WriteTextFile(const char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool ReadFileBlock(const char* path, long offset, size_t size, void* buffer);
bool IsBitSet(unsigned value, unsigned bit);
void SetBit(unsigned char* byte, unsigned bit, bool value);
