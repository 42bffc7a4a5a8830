#pragma once
// One end of a simulated serial line: a pseudo-terminal pair in raw mode whose slave is entered in
// the serial port table, so a stack opens it as a COM port, while the test talks on the master.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/serial_port_table.h"

namespace mstptx {

using Octets = std::vector<uint8_t>;

class PtyLine {
public:
    PtyLine() = default;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;
    ~PtyLine()
    {
        if (m_master >= 0)
            close(m_master);
        if (m_slave >= 0)
            close(m_slave);
    }

    // Opens the pair and registers the slave; false when no pseudo-terminal can be had.
    bool Open()
    {
        char name[128] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return false;
        fcntl(m_master, F_SETFD, FD_CLOEXEC); // stations started by a test open their own end
        fcntl(m_slave, F_SETFD, FD_CLOEXEC);
        termios tio{};
        if (tcgetattr(m_slave, &tio) != 0)
            return false;
        cfmakeraw(&tio); // no echo, no line editing: octets pass unchanged
        if (tcsetattr(m_slave, TCSANOW, &tio) != 0)
            return false;
        int flags = fcntl(m_master, F_GETFL);
        fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
        m_path = name;
        m_port = AddSerialPortPath(m_path);
        return m_port > 0;
    }

    int Port() const { return m_port; }
    const std::string& Path() const { return m_path; }
    int MasterFd() const { return m_master; }

    // Octets written here reach the stack's end of the line.
    bool Write(const Octets& octets)
    {
        size_t done = 0;
        while (done < octets.size()) {
            ssize_t n = write(m_master, octets.data() + done, octets.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p{m_master, POLLOUT, 0};
            poll(&p, 1, 100);
        }
        return true;
    }

    // Octets queued at the stack's end and not yet read by it.
    int QueuedAtStack() const
    {
        int n = 0;
        if (ioctl(m_slave, FIONREAD, &n) != 0)
            return -1;
        return n;
    }

    // The kernel hands written octets on asynchronously, later still on a loaded machine: waits
    // until at least n are queued. The bound only ends a broken run.
    bool WaitQueuedAtStack(int n, int timeoutMs = 60000) const
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (QueuedAtStack() < n) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

    // Reads exactly n octets that the stack sent, or what came before the time-out.
    Octets Read(size_t n, int timeoutMs = 5000)
    {
        Octets out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            uint8_t buf[512];
            ssize_t got = read(m_master, buf, std::min(sizeof buf, n - out.size()));
            if (got > 0)
                out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    // What has arrived, waiting at most timeoutMs for the first octet.
    Octets ReadAvailable(int timeoutMs)
    {
        Octets out;
        pollfd p{m_master, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return out;
        uint8_t buf[4096];
        ssize_t got = read(m_master, buf, sizeof buf);
        if (got > 0)
            out.assign(buf, buf + got);
        return out;
    }

    // Everything the stack sent until the line stayed quiet for quietMs.
    Octets ReadAll(int quietMs = 30)
    {
        Octets out;
        for (;;) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, quietMs) <= 0)
                return out;
            uint8_t buf[512];
            ssize_t got = read(m_master, buf, sizeof buf);
            if (got <= 0)
                return out;
            out.insert(out.end(), buf, buf + got);
        }
    }

private:
    int m_master = -1;
    int m_slave = -1; // kept open: the queue count, and no hang-up when the stack closes its end
    std::string m_path;
    int m_port = 0;
};

} // namespace mstptx
