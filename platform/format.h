#pragma once
// printf-style formatting into a std::string that grows to fit: no text is ever cut.
#include <cstdarg>
#include <string>

// Appends the formatted text to out; a null format or an encoding error appends nothing.
void AppendFormatV(std::string& out, const char* format, va_list args);
void AppendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
