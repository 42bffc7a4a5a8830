#include "mstp/serial_port.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "platform/serial_baud.h"
#include "platform/serial_port_table.h"

namespace {

constexpr int WRITE_WAIT_MS = 1000;

// Speeds with a Bnnn constant; anything else goes through the exact-rate path.
speed_t StandardSpeed(int baud)
{
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    default: return B0;
    }
}

int64_t MonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The serial interrupt counters: a hardware overrun (the UART's FIFO) and a buffer overrun (the
// driver's own buffer) each mean octets the line carried and nobody will read.
bool DriverLossCounter(int fd, unsigned long* count)
{
    serial_icounter_struct icount{};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0)
        return false;
    *count = static_cast<unsigned long>(static_cast<unsigned>(icount.overrun)) +
             static_cast<unsigned long>(static_cast<unsigned>(icount.buf_overrun));
    return true;
}

std::atomic<SerialLossCounterFn> g_pfnLossCounter{nullptr};

bool ReadLossCounter(int fd, unsigned long* count)
{
    SerialLossCounterFn hook = g_pfnLossCounter.load(std::memory_order_acquire);
    return hook ? hook(fd, count) : DriverLossCounter(fd, count);
}

} // namespace

void SetSerialLossCounterHook(SerialLossCounterFn fn)
{
    g_pfnLossCounter.store(fn, std::memory_order_release);
}

CSerialPort::CSerialPort() : m_hComm(-1), m_bOpened(0), m_bLost(0), m_nLossCount(0), m_bLossCountKnown(false) {}

CSerialPort::~CSerialPort()
{
    Close();
}

BOOL MakeSerialLineSettings(struct termios* tio, char parity, unsigned dataBits, int stopBits)
{
    int parityCode;
    switch (parity) {
    case 'N': parityCode = 0; break;
    case 'O': parityCode = 1; break;
    case 'E': parityCode = 2; break;
    default:
        if (parity < 0 || parity > 4)
            return FALSE;
        parityCode = parity;
    }
    if (dataBits != 7 && dataBits != 8)
        return FALSE;
    cfmakeraw(tio);
    tio->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    tio->c_cflag |= (dataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    switch (parityCode) {
    case 1: tio->c_cflag |= PARENB | PARODD; break;
    case 2: tio->c_cflag |= PARENB; break;
    case 3: tio->c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio->c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (stopBits == 2)
        tio->c_cflag |= CSTOPB;
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
    return TRUE;
}

BOOL CSerialPort::Open(int port, int baud, char parity, unsigned dataBits, int stopBits)
{
    if (m_bOpened && m_hComm >= 0)
        return TRUE;
    termios tio{};
    if (!MakeSerialLineSettings(&tio, parity, dataBits, stopBits) || baud <= 0)
        return FALSE;

    // Only a serial port is opened: an open alone can set off another kind of device.
    std::string device = GetSerialPortDevice(port);
    if (device.empty() || !IsSerialPortNode(device))
        return FALSE;
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FALSE;

    // Exclusive access: TIOCEXCL keeps other processes out (root excepted), the lock keeps out a
    // second opener of any kind, this process included. The driver's current settings are the base,
    // so flow control and the like stay as it had them.
    termios current{};
    bool ok = isatty(fd) && flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0 &&
              tcgetattr(fd, &current) == 0;
    if (ok) {
        MakeSerialLineSettings(&current, parity, dataBits, stopBits);
        speed_t speed = StandardSpeed(baud);
        if (speed != B0) {
            cfsetispeed(&current, speed);
            cfsetospeed(&current, speed);
        }
        ok = tcsetattr(fd, TCSANOW, &current) == 0;
        if (ok && speed == B0)
            ok = SetSerialBaudRateExact(fd, baud);
    }
    if (!ok) {
        close(fd);
        return FALSE;
    }
    // A fresh open starts with an empty input queue, whatever arrived while the port was closed.
    tcflush(fd, TCIFLUSH);
    // Losses are counted from here: the counters of a device live as long as the device.
    m_nLossCount = 0;
    m_bLossCountKnown = ReadLossCounter(fd, &m_nLossCount);
    m_hComm = fd;
    m_bOpened = 1;
    m_bLost = 0;
    return TRUE;
}

BOOL CSerialPort::Close()
{
    if (!m_bOpened || m_hComm < 0)
        return TRUE;
    ioctl(m_hComm, TIOCNXCL);
    close(m_hComm);
    m_hComm = -1;
    m_bOpened = 0;
    m_bLost = 0;
    return TRUE;
}

BOOL CSerialPort::Write(const BYTE* buffer, int count)
{
    if (!buffer || count <= 0)
        return FALSE;
    // A write that cannot finish within the wait is given up; a failed write is not reported.
    const int64_t deadline = MonotonicMs() + WRITE_WAIT_MS;
    int done = 0;
    while (done < count) {
        ssize_t n = write(m_hComm, buffer + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return TRUE;
        int64_t left = deadline - MonotonicMs();
        if (left <= 0)
            return TRUE;
        pollfd p{m_hComm, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            return TRUE;
    }
    return TRUE;
}

int CSerialPort::SendData(const BYTE* buffer, int count)
{
    if (!m_bOpened || m_hComm < 0)
        return 0;
    return Write(buffer, count) ? count : 0;
}

unsigned CSerialPort::GetBytesWaiting()
{
    if (!m_bOpened || m_hComm < 0)
        return 0;
    int queued = 0;
    if (ioctl(m_hComm, FIONREAD, &queued) != 0) {
        // A device that is gone (hung up, unplugged) fails every query from now on.
        if (errno != EINTR)
            m_bLost = 1;
        return 0;
    }
    return queued < 0 ? 0u : static_cast<unsigned>(queued);
}

int CSerialPort::ReadData(BYTE* buffer, int max)
{
    if (!m_bOpened || m_hComm < 0 || !buffer || max <= 0)
        return 0;
    unsigned queued = GetBytesWaiting();
    if (queued == 0)
        return 0;
    size_t size = std::min<size_t>(queued, static_cast<size_t>(max));
    ssize_t n;
    do {
        n = read(m_hComm, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        m_bLost = 1;
    return n > 0 ? static_cast<int>(n) : 0;
}

BOOL CSerialPort::OctetsLost()
{
    if (!m_bOpened || m_hComm < 0)
        return FALSE;
    unsigned long count = 0;
    if (!ReadLossCounter(m_hComm, &count))
        return FALSE;
    // The counters only grow (or wrap): any change is a loss.
    const bool lost = m_bLossCountKnown && count != m_nLossCount;
    m_nLossCount = count;
    m_bLossCountKnown = true;
    return lost ? TRUE : FALSE;
}

BOOL CSerialPort::WriteByte(BYTE octet)
{
    Write(&octet, 1);
    return TRUE;
}
