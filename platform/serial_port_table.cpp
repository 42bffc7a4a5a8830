#include "platform/serial_port_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

std::mutex g_tableLock;
std::vector<std::string> g_devices; // entry n lives at index n - 1

// Name order that puts ttyUSB2 before ttyUSB10: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isdigit(static_cast<unsigned char>(a[i])) && isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ei = i, ej = j;
            while (ei < a.size() && isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            std::string da = a.substr(i, ei - i), db = b.substr(j, ej - j);
            da.erase(0, std::min(da.find_first_not_of('0'), da.size()));
            db.erase(0, std::min(db.find_first_not_of('0'), db.size()));
            if (da.size() != db.size())
                return da.size() < db.size();
            if (da != db)
                return da < db;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

bool PathExists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A UART whose driver found no hardware reports type 0; such a port cannot carry a line.
bool ReportsNoHardware(const std::string& entryDir)
{
    FILE* f = fopen((entryDir + "/type").c_str(), "r");
    if (!f)
        return false;
    int type = -1;
    int got = fscanf(f, "%d", &type);
    fclose(f);
    return got == 1 && type == 0;
}

} // namespace

int LoadSerialPortTable(const std::string& sysClassTty, const std::string& devDir)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(sysClassTty.c_str())) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            std::string entryDir = sysClassTty + "/" + name;
            if (!PathExists(entryDir + "/device") || ReportsNoHardware(entryDir))
                continue;
            names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    std::lock_guard<std::mutex> lock(g_tableLock);
    g_devices.clear();
    for (const std::string& name : names)
        g_devices.push_back(devDir + "/" + name);
    return static_cast<int>(g_devices.size());
}

int AddSerialPortPath(const std::string& devicePath)
{
    if (devicePath.size() <= 5 || devicePath.compare(0, 5, "/dev/") != 0)
        return 0;
    std::lock_guard<std::mutex> lock(g_tableLock);
    for (size_t i = 0; i < g_devices.size(); ++i)
        if (g_devices[i] == devicePath)
            return static_cast<int>(i) + 1;
    g_devices.push_back(devicePath);
    return static_cast<int>(g_devices.size());
}

std::string GetSerialPortDevice(int port)
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    if (port < 1 || static_cast<size_t>(port) > g_devices.size())
        return std::string();
    return g_devices[port - 1];
}

std::string GetSerialPortComName(int port)
{
    char name[32];
    snprintf(name, sizeof name, "COM%d", port);
    return name;
}

std::string GetSerialPortDisplayName(int port)
{
    std::string device = GetSerialPortDevice(port);
    if (device.empty())
        return GetSerialPortComName(port);
    return GetSerialPortComName(port) + " (" + device + ")";
}

bool IsSerialPortNode(const std::string& devicePath, const std::string& sysRoot)
{
    struct stat node {};
    if (stat(devicePath.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return false;
    const unsigned deviceMajor = major(node.st_rdev);
    if (deviceMajor >= 136 && deviceMajor <= 143)
        return true;
    char entry[64];
    snprintf(entry, sizeof entry, "/dev/char/%u:%u/subsystem", deviceMajor, minor(node.st_rdev));
    char* subsystem = realpath((sysRoot + entry).c_str(), nullptr);
    char* ttyClass = realpath((sysRoot + "/class/tty").c_str(), nullptr);
    const bool tty = subsystem && ttyClass && std::strcmp(subsystem, ttyClass) == 0;
    free(subsystem);
    free(ttyClass);
    return tty;
}

std::vector<SerialPortEntry> GetSerialPortTable()
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    std::vector<SerialPortEntry> table;
    for (size_t i = 0; i < g_devices.size(); ++i)
        table.push_back({static_cast<int>(i) + 1, g_devices[i]});
    return table;
}

void ClearSerialPortTable()
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    g_devices.clear();
}
