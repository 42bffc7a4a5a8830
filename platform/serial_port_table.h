#pragma once
// The process-wide table of serial devices that stands for the "COM%d" name space: entry n is the
// port "COM<n>", numbered from 1. Safe to use from any thread.
#include <string>
#include <vector>

struct SerialPortEntry {
    int nNumber;           // the n of "COM<n>"
    std::string strDevice; // e.g. "/dev/ttyUSB0"
};

// Replaces the table with the serial devices found under sysClassTty (entries backed by a device,
// in name order; UARTs that report no hardware are passed over). Device paths are devDir + "/" + name.
// Returns the number of entries.
int LoadSerialPortTable(const std::string& sysClassTty = "/sys/class/tty", const std::string& devDir = "/dev");

// Adds a device path the user typed ("/dev/..."); returns its port number. A path already in the
// table keeps its number. Returns 0 for a path that does not begin with "/dev/".
int AddSerialPortPath(const std::string& devicePath);

// Device path of port n; empty when the table has no entry n.
std::string GetSerialPortDevice(int port);

// "COM<n>" and the list text "COM<n> (<device>)".
std::string GetSerialPortComName(int port);
std::string GetSerialPortDisplayName(int port);

// True when the node at devicePath is a serial port: a character device whose entry
// sysRoot/dev/char/MAJOR:MINOR belongs to the tty class, or a pseudo-terminal slave (majors 136 to
// 143, which sysfs does not list). Decided from the node and sysfs alone: nothing is opened, since
// opening some devices has effects of its own (a watchdog starts counting, for one). A link to a
// port (as under /dev/serial/by-id) is followed to the port.
bool IsSerialPortNode(const std::string& devicePath, const std::string& sysRoot = "/sys");

std::vector<SerialPortEntry> GetSerialPortTable();
void ClearSerialPortTable();
