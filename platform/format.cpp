#include "platform/format.h"

#include <cstdio>

void AppendFormatV(std::string& out, const char* format, va_list args)
{
    if (!format)
        return;
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    // Formatted into a buffer of its own, so an argument that points into out stays valid.
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    out.append(big.data(), static_cast<size_t>(n));
}

void AppendFormat(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
}

std::string FormatString(const char* format, ...)
{
    std::string out;
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
    return out;
}
