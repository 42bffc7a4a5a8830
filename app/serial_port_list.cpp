// The serial port list of the main window and the port number of a port text.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <strings.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

namespace {

// True when /proc/locks shows a whole-file lock on the node (as a capture of this or another
// program takes on its port).
bool NodeIsLocked(const struct stat& node)
{
    FILE* locks = std::fopen("/proc/locks", "r");
    if (!locks)
        return false;
    bool locked = false;
    char line[256];
    while (!locked && std::fgets(line, sizeof line, locks)) {
        unsigned lockMajor = 0, lockMinor = 0;
        unsigned long inode = 0;
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:567 0 EOF"; waiting requests carry "->" and are no hold.
        if (std::strstr(line, "->"))
            continue;
        const char* field = line;
        for (int k = 0; k < 5 && field; ++k) {
            field = std::strchr(field, ' ');
            while (field && *field == ' ')
                ++field;
        }
        if (field && std::sscanf(field, "%x:%x:%lu", &lockMajor, &lockMinor, &inode) == 3)
            locked = lockMajor == major(node.st_dev) && lockMinor == minor(node.st_dev) && inode == node.st_ino;
    }
    std::fclose(locks);
    return locked;
}

}  // namespace

const char* ProbeSerialPort(const std::string& devicePath)
{
    // Nothing is opened: opening a tty raises DTR and RTS (and closing drops them), which can key an
    // RS-485 driver or reset a board behind the port. The node, its access rights and the lock table
    // tell the same without touching the line; the port table already leaves out UARTs that the
    // driver found absent.
    struct stat node {};
    if (stat(devicePath.c_str(), &node) != 0)
        return errno == EACCES ? "  not available" : "  not install";
    if (!S_ISCHR(node.st_mode) && !S_ISREG(node.st_mode))
        return "  not available";
    if (access(devicePath.c_str(), R_OK | W_OK) != 0)
        return "  not available";
    if (NodeIsLocked(node))
        return "  not available";
    return " ";
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
    // "COM" (in any letter case, as device names go) and one or two digits, then the end or a blank
    // (before the device path or a mark).
    if (s.size() < 4 || strncasecmp(s.c_str(), "COM", 3) != 0 || !isdigit(static_cast<unsigned char>(s[3])))
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
