#pragma once
// A pseudo-terminal pair standing in for an RS-485 line: the engine opens the slave through the
// serial port table, the test writes and reads on the master.
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "mstp_test_support.h"
#include "platform/serial_port_table.h"

namespace mstptest {

struct PtyPair {
    int master = -1;
    int slave = -1; // held open so the line lives while the engine closes and reopens its side
    std::string device;
    int port = 0;

    PtyPair()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        device = name;
        port = AddSerialPortPath(device);
    }
    ~PtyPair()
    {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
    }
    bool ok() const { return master >= 0 && port > 0; }

    // The line's far end goes away: the engine's side is hung up, as when a USB adapter is pulled.
    void HangUp()
    {
        if (master >= 0)
            close(master);
        master = -1;
    }

    void Write(const Octets& octets) const
    {
        size_t done = 0;
        while (done < octets.size()) {
            ssize_t n = write(master, octets.data() + done, octets.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    // Octets queued on the engine's side of the line.
    int Queued() const
    {
        int n = 0;
        ioctl(slave, FIONREAD, &n);
        return n;
    }
};

} // namespace mstptest
