#pragma once
// One serial port in raw mode with polled, non-blocking reads and a bounded write wait.
// Port numbers name entries of the process-wide serial port table (platform/serial_port_table.h):
// port n is "COM<n>". The class reports nothing by itself; callers see a BOOL or a count.
#include "platform/win_types.h"

struct termios;

class CSerialPort {
public:
    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // parity: 'N', 'E', 'O', or the code 0 none, 1 odd, 2 even, 3 mark, 4 space.
    // dataBits 7 or 8; stopBits 2 gives two stop bits, anything else one.
    // TRUE at once (settings unchanged) when already open.
    BOOL Open(int port, int baud, char parity, unsigned dataBits, int stopBits);
    BOOL Close();
    BOOL Write(const BYTE* buffer, int count);
    int SendData(const BYTE* buffer, int count);
    unsigned GetBytesWaiting();
    int ReadData(BYTE* buffer, int max);
    BOOL WriteByte(BYTE octet);
    // TRUE when the driver has counted octets lost on input (hardware or buffer overruns) since
    // Open or the last call. Always FALSE where the driver keeps no such counters (a pseudo-terminal).
    BOOL OctetsLost();

    int m_hComm;   // file descriptor of the open device; -1 when closed
    int m_bOpened; // 1 while open
    // 1 once the open device has failed a queue query or a read (an unplugged adapter): it will
    // deliver nothing more. Cleared by Open and Close.
    int m_bLost;

private:
    unsigned long m_nLossCount; // the driver's overrun counters as last read
    bool m_bLossCountKnown;     // the driver keeps them
};

// Reads the driver's count of octets lost on input into *count; false where it keeps none.
typedef bool (*SerialLossCounterFn)(int fd, unsigned long* count);
// Tests stand in for the driver's counters; nullptr restores them.
void SetSerialLossCounterHook(SerialLossCounterFn fn);

// Turns tio into the raw line settings Open asks of the driver: parity, data bits and stop bits as
// CSerialPort::Open takes them, CLOCAL | CREAD, reads that return at once. The speed is not touched.
// FALSE for a parity or a data-bit count Open refuses.
BOOL MakeSerialLineSettings(struct termios* tio, char parity, unsigned dataBits, int stopBits);
