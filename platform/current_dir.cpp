#include "platform/current_dir.h"

#include <cstring>
#include <unistd.h>

uint32_t GetCurrentDirectoryA(uint32_t bufferLength, char* buffer)
{
    if (!buffer || bufferLength == 0)
        return 0;
    if (!getcwd(buffer, bufferLength)) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<uint32_t>(std::strlen(buffer));
}
