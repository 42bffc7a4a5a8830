// Kept apart from every <termios.h> user: the kernel's termios2 header clashes with it.
#include "platform/serial_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetSerialBaudRateExact(int fd, int baud)
{
    if (baud <= 0)
        return false;
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_cflag &= ~(CBAUD << IBSHIFT);
    tio.c_cflag |= BOTHER << IBSHIFT;
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &tio) == 0;
}

int GetSerialBaudRateExact(int fd)
{
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return 0;
    return static_cast<int>(tio.c_ospeed);
}
