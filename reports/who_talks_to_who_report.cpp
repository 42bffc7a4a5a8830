#include <string>

#include "reports/report_files.h"
#include "reports/report_writers.h"
#include "reports/statistics.h"

namespace {

constexpr int kMaxMasterAddress = 127;

// One block per master 0 to 127: its peers of data frames in either direction.
std::string MasterBlocks()
{
    std::string out;
    for (int m = 0; m <= kMaxMasterAddress; ++m) {
        const DeviceRecord& master = g_pDevices[m];
        if (!master.m_bMaster)
            continue;
        AppendFormat(out, "MAC_%-3d\n", m);
        bool anyPeer = false;
        for (int p = 0; p < MSTP_STATION_COUNT; ++p) {
            if (master.m_nSentTo[p] > 0 || master.m_nReceivedFrom[p] > 0) {
                AppendFormat(out, "\tMAC_%-3d - Sent = %d,\tReceived = %d\n", p, master.m_nSentTo[p],
                             master.m_nReceivedFrom[p]);
                anyPeer = true;
            }
        }
        if (!anyPeer)
            out += "\tNone\n";
        out += "\n";
        out += REPORT_RULE_LINE;
    }
    return out;
}

} // namespace

void WriteWhoTalksToWhoReport()
{
    if (!g_pDevices)
        return;
    std::string body = "\"Note: Only mstp frames with valid payloads in the Raw_mstp_frames.txt was\n considered for "
                       "this report. All mstp frames with invalid payloads were ignored.\"\n";
    body += REPORT_RULE_LINE;
    body += MasterBlocks();
    WriteFramedReport("Who_talks_to_who_report", "Who Talkes To Who Report", body, body);
}
