#include <string>

#include "reports/report_files.h"
#include "reports/report_writers.h"
#include "reports/statistics.h"

namespace {

constexpr int kMaxMasterAddress = 127;
constexpr int kLastStation = MSTP_STATION_COUNT - 1;

bool IsActiveMaster(const DeviceRecord& d)
{
    return d.m_bPresent && d.m_bMaster;
}

// One listed section: rule, heading, rule, an address line for every match or the none line, "\n".
template <class Condition>
void AppendAddressList(std::string& out, const char* heading, int first, int last, const char* noneLine,
                       Condition listed)
{
    out += REPORT_RULE_LINE;
    out += heading;
    out += REPORT_RULE_LINE;
    bool nothingYet = true;
    for (int mac = first; mac <= last; ++mac) {
        if (listed(g_pDevices[mac])) {
            AppendFormat(out, "\tMAC = %d\n", mac);
            nothingYet = false;
        }
    }
    if (nothingYet)
        out += noneLine;
}

// Sections 1 to 7; the last section's closing "\n" is left to the text report (the page has none).
std::string MacAddressSections()
{
    std::string out;

    // Section 1: one below the lowest active master. MAC 0 as a master leaves no address below it.
    out += REPORT_RULE_LINE;
    out += "Suggested max Master MAC address: \nNote: \"Lowest Master MAC adress not used on network\"\n";
    out += REPORT_RULE_LINE;
    int suggestedMaxMaster = kMaxMasterAddress;
    int lowestMaster = -1;
    for (int mac = 0; mac <= kMaxMasterAddress && lowestMaster < 0; ++mac)
        if (IsActiveMaster(g_pDevices[mac]))
            lowestMaster = mac;
    if (lowestMaster < 0) {
        out += "\tMAC = 127 (Note: No active masters found on network)\n";
    } else if (lowestMaster == 0) {
        suggestedMaxMaster = -1;
        out += "\tMAC = None (Note: MAC 0 is an active master)\n";
    } else {
        suggestedMaxMaster = lowestMaster - 1;
        AppendFormat(out, "\tMAC = %d\n", suggestedMaxMaster);
    }
    out += "\n\n";

    // Section 2: the lowest free address that is not the suggested max master.
    out += REPORT_RULE_LINE;
    out += "Suggested next Slave MAC address: \nNote: \"Lowest Slave MAC adress not used on network\"\n";
    out += REPORT_RULE_LINE;
    int nextSlave = -1;
    for (int mac = 0; mac <= kLastStation && nextSlave < 0; ++mac)
        if (!g_pDevices[mac].m_bPresent && mac != suggestedMaxMaster)
            nextSlave = mac;
    if (nextSlave < 0)
        out += "\tMAC = None (Note: No open spot found on Network)\n";
    else
        AppendFormat(out, "\tMAC = %d\n", nextSlave);
    out += "\nNote:\"Watch for the Vendor 'out the box' Mac address setting. If the\nvendor equipment you are "
           "installing has an obvious 'out the box' Mac\naddress then it is best to avoid using that address "
           "because you will\nincrease the odds of having a duplicate Mac address if a module is\nreplaced.\"\n\n";
    out += "\n";

    AppendAddressList(out,
                      "Active Master MAC addresses: \nNote: \"Devices that respond and pass the token\"\n", 0,
                      kMaxMasterAddress, "\tNo Active Masters found on network.\n", IsActiveMaster);
    out += "\n";
    AppendAddressList(out,
                      "Passive Slaves MAC addresses: \nNote: \"Devices that respond to polls but not part of "
                      "token network\"\n",
                      0, kLastStation, "\tNo Passive Slaves found on network.\n",
                      [](const DeviceRecord& d) { return d.m_bPresent && d.m_bSlave; });
    out += "\n";
    AppendAddressList(out,
                      "List of Missing Slave MAC addresses:\nNote: \"Devices received messages on the network "
                      "but never responded\"\n",
                      0, kLastStation, "\tNo Missing Slaves found on network.\n",
                      [](const DeviceRecord& d) { return !d.m_bPresent && d.m_bAwaitingReply; });
    out += "\n";
    auto open = [](const DeviceRecord& d) { return !d.m_bPresent; };
    AppendAddressList(out, "List of possible Master/Slave MAC addresses availible between 0-127:\n", 0,
                      kMaxMasterAddress, "\tNo Open slots.\n", open);
    out += "\n";
    AppendAddressList(out, "List of posible Slave MAC addresses availible between 128-254:\n",
                      kMaxMasterAddress + 1, kLastStation, "\tNo Open slots.\n", open);
    return out;
}

} // namespace

void WriteMacAddressReport()
{
    if (!g_pDevices)
        return;
    std::string sections = "\n\n" + MacAddressSections();
    WriteFramedReport("MAC_add_report", "MAC address Report", sections + "\n" + REPORT_RULE_LINE, sections);
}
