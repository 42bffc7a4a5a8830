// The serial port list of the main window and the port number of a port text.
#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "app/quorix_dlg.h"
#include "platform/serial_port_table.h"

namespace {
std::string g_strSysClassTty = "/sys/class/tty";
std::string g_strDevDir = "/dev";
}  // namespace

void SetSerialPortListSource(const std::string& sysClassTty, const std::string& devDir)
{
    g_strSysClassTty = sysClassTty;
    g_strDevDir = devDir;
}

const char* ProbeSerialPort(const std::string& devicePath)
{
    // Non-blocking and without becoming the controlling terminal: the line is not waited on and
    // its settings are left alone.
    int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENXIO || errno == ENODEV)
            return "  not install";
        return "  not available";
    }
    const char* mark = " ";
    serial_struct info {};
    if (isatty(fd) && ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN) {
        mark = "  not install";
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // A capture of this or another program holds the port.
        mark = "  not available";
    } else {
        flock(fd, LOCK_UN);
    }
    close(fd);
    return mark;
}

int SerialPortNumberFromText(const char* text)
{
    if (!text)
        return 0;
    std::string s = text;
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    if (s.compare(0, 5, "/dev/") == 0)
        return AddSerialPortPath(s);
    // "COM" and one or two digits, then the end or a blank (before the device path or a mark).
    if (s.size() < 4 || s.compare(0, 3, "COM") != 0 || !isdigit(static_cast<unsigned char>(s[3])))
        return 0;
    size_t end = 3;
    while (end < s.size() && isdigit(static_cast<unsigned char>(s[end])))
        ++end;
    if (end - 3 > 2 || (end < s.size() && s[end] != ' '))
        return 0;
    return std::atoi(s.c_str() + 3);
}

void CQuorixDlg::FillSerialPortList()
{
    auto* combo = static_cast<CComboBox*>(GetDlgItem(IDC_SERIAL_PORT));
    LoadSerialPortTable(g_strSysClassTty, g_strDevDir);
    for (const SerialPortEntry& entry : GetSerialPortTable()) {
        std::string text = GetSerialPortDisplayName(entry.nNumber);
        const char* mark = ProbeSerialPort(entry.strDevice);
        text += mark;
        // The last port that opened, in table order, is the one selected.
        if (std::strcmp(mark, " ") == 0)
            m_strSerialPort = text;
        if (combo)
            combo->AddString(text.c_str());
    }
}
