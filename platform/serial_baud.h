#pragma once
// Line speeds for which the C library has no Bnnn constant (76800 is common on MS/TP).

// Sets input and output speed of the open terminal fd to exactly baud (termios2 with BOTHER),
// leaving the other line settings alone. Returns false when the driver refuses.
bool SetSerialBaudRateExact(int fd, int baud);

// Reads back the output speed the driver holds for fd; 0 on failure.
int GetSerialBaudRateExact(int fd);
