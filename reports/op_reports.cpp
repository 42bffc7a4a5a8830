#include <cstdio>
#include <cstring>
#include <string>

#include "mstp/mstp_stack.h"
#include "reports/page_template.h"
#include "reports/report_files.h"
#include "reports/report_writers.h"
#include "reports/statistics.h"

namespace {

const char* const kSentLines[8] = {
    "\t00 Token sent:\t\t\t\t%-10d - %-3d%%\n",
    "\t01 Poll For Master sent:\t\t%-10d - %-3d%%\n",
    "\t02 Reply To Poll For Master sent:\t%-10d - %-3d%%\n",
    "\t03 Test_Request sent:\t\t\t%-10d - %-3d%%\n",
    "\t04 Test_Response sent:\t\t\t%-10d - %-3d%%\n",
    "\t05 Data Expecting Reply sent:\t\t%-10d - %-3d%%\n",
    "\t06 Data Not Expecting Reply sent:\t%-10d - %-3d%%\n",
    "\t07 Reply Postponed sent:\t\t%-10d - %-3d%%\n",
};

const char* const kReceivedLines[8] = {
    "\t00 Token received:\t\t\t%-10d - %-3d%%\n\n",
    "\t01 Poll For Master received:\t\t%-10d - %-3d%%\n\n",
    "\t02 Reply To Poll For Master received:\t%-10d - %-3d%%\n\n",
    "\t03 Test_Request received:\t\t%-10d - %-3d%%\n\n",
    "\t04 Test_Response received:\t\t%-10d - %-3d%%\n\n",
    "\t05 Data Expecting Reply received:\t%-10d - %-3d%%\n\n",
    "\t06 Data Not Expecting Reply received:\t%-10d - %-3d%%\n\n",
    "\t07 Reply Postponed received:\t\t%-10d - %-3d%%\n\n",
};

const char* const kBlockLine =
    "Start at %s Received %5d Tokens. The Average receive time is : %4dms. Holding time :%4dms\n";

// A stamp slot as text, never reading past its buffer even if it lost its terminator.
std::string StampText(const char (&stamp)[CAPTURE_STAMP_SIZE])
{
    return std::string(stamp, strnlen(stamp, CAPTURE_STAMP_SIZE));
}

// Count as a whole percentage of total, truncated; computed in double in this order so that 29 of
// 100 gives 28 (0.29 * 100 is just below 29).
int Share(int count, int total)
{
    double ratio = static_cast<double>(count) / static_cast<double>(total);
    return static_cast<int>(ratio * 100.0);
}

// Index of the station's open averaging block, kept inside the table whatever it holds.
int OpenBlockIndex(int mac)
{
    int b = g_nBetweenBlockIndex[mac];
    if (b < 0)
        return 0;
    return b < AVERAGE_BLOCK_COUNT ? b : AVERAGE_BLOCK_COUNT - 1;
}

void AppendDeviceType(std::string& out, const DeviceRecord& d)
{
    if (d.m_bMaster)
        out += "Devive type: Active Master \nNote: \"A Device that responds and passes the token\"\n";
    if (d.m_bSlave)
        out += "Devive type: Passive Slave \nNote: \"A Device that respond to polls but does not part of token "
               "network\"\n";
}

void AppendFrameTable(std::string& out, const DeviceRecord& d)
{
    int sent = 0;
    int received = 0;
    for (int t = 0; t < 8; ++t) {
        sent += d.m_nFrameCount[t][0];
        received += d.m_nFrameCount[t][1];
    }
    AppendFormat(out, "\nTotal Messages sent:\t\t%d\nTolal Messages Received:\t%d\n", sent, received);
    if (sent == 0)
        sent = 1;
    if (received == 0)
        received = 1;
    out += REPORT_RULE_LINE;
    out += "Table of Sent/Received MSTP frames:\n";
    out += REPORT_RULE_LINE;
    for (int t = 0; t < 8; ++t) {
        AppendFormat(out, kSentLines[t], d.m_nFrameCount[t][0], Share(d.m_nFrameCount[t][0], sent));
        AppendFormat(out, kReceivedLines[t], d.m_nFrameCount[t][1], Share(d.m_nFrameCount[t][1], received));
    }
}

// The token time table and one line per averaging block. Stores the open block's averages into the
// tables, as the closed blocks' are.
void AppendTokenTimes(std::string& out, int mac, const DeviceRecord& d)
{
    CNetworkStatistics& s = g_NetworkStatistics;
    const TokenTiming& t = s.m_TokenTiming[mac];
    out += REPORT_RULE_LINE;
    out += "Table of Token time:\n";
    out += REPORT_RULE_LINE;
    out += "\t\t\t\t\t    longest       shortest \n";
    AppendFormat(out, "Time between receiving the token :      %8dms     %8dms\n", t.m_nLongestBetween,
                 t.m_nShortestBetween);
    AppendFormat(out, "Time holding the token           :      %8dms     %8dms\n\n\n", t.m_nLongestHold,
                 t.m_nShortestHold);

    int b = OpenBlockIndex(mac);
    for (int j = 0; j < b; ++j) {
        if (s.m_nHoldAverage[mac][j] == 0)
            s.m_nHoldAverage[mac][j] = 1;
        AppendFormat(out, kBlockLine, StampText(d.m_szBlockStamp[j]).c_str(), g_MstpStack.m_nAverageDim,
                     s.m_nBetweenAverage[mac][j], s.m_nHoldAverage[mac][j]);
    }

    if (s.m_nBetweenCount[mac] == 0)
        s.m_nBetweenCount[mac] = 1;
    s.m_nBetweenAverage[mac][b] = t.m_nSumBetween / s.m_nBetweenCount[mac];
    if (s.m_nHoldCount[mac] == 0)
        s.m_nHoldCount[mac] = 1;
    s.m_nHoldAverage[mac][b] = t.m_nSumHold / s.m_nHoldCount[mac];
    if (s.m_nHoldAverage[mac][b] == 0)
        s.m_nHoldAverage[mac][b] = 1;
    AppendFormat(out, kBlockLine, StampText(d.m_szBlockStamp[b]).c_str(), s.m_nBetweenCount[mac],
                 s.m_nBetweenAverage[mac][b], s.m_nHoldAverage[mac][b]);
    out += "\n";
}

void AppendOutOfTurn(std::string& out, const DeviceRecord& d)
{
    if (!d.m_bBrokeSequence)
        return;
    int c = d.m_nOutOfTurnCount;
    out += "\nDevice Broke a sequence!! \nNote: \"The device talked out of turn, it didn't have the token but "
           "it\nstill sent messages on the network\"\n";
    AppendFormat(out, "\nOut of turn message count: %d\n", c);
    int listed = c;
    if (c > OUT_OF_TURN_STAMP_COUNT) {
        out += "Time stamp of last 5 out of turn messages:\n";
        listed = OUT_OF_TURN_STAMP_COUNT;
    } else {
        AppendFormat(out, "Time stamp of last %d out of turn messages:\n", c);
    }
    for (int i = listed - 1; i >= 0; --i)
        AppendFormat(out, "\t%s\n", StampText(d.m_szOutOfTurnStamp[i]).c_str());
}

// The text both files of one station carry between their head and foot.
std::string ReportBody(int mac)
{
    const DeviceRecord& d = g_pDevices[mac];
    std::string out;
    AppendDeviceType(out, d);
    AppendFrameTable(out, d);
    AppendTokenTimes(out, mac, d);
    AppendOutOfTurn(out, d);
    return out;
}

void AppendIndexLink(const char* htmlName)
{
    FILE* index = OpenReportFile("index.html", "a+");
    if (!index)
        return;
    std::fprintf(index, "    <IMG SRC=\"link_icon.gif\"><A HREF=\"%s\">%s</A><br>", htmlName, htmlName);
    CloseReportFile(index, "index.html");
}

} // namespace

void WriteOperationalReports()
{
    if (!g_pDevices || g_strReportPath.empty())
        return;
    for (int mac = 0; mac < MSTP_STATION_COUNT; ++mac) {
        if (!g_pDevices[mac].m_bPresent)
            continue;
        char textName[40];
        char htmlName[40];
        std::snprintf(textName, sizeof textName, "Op_Report_MAC_%d.txt", mac);
        std::snprintf(htmlName, sizeof htmlName, "Op_Report_MAC_%d.html", mac);

        // Both opens come before the link, and the link before either open is tested.
        std::string textPath = ReportFilePath(textName);
        std::string htmlPath = ReportFilePath(htmlName);
        FILE* text = std::fopen(textPath.c_str(), "w");
        FILE* html = std::fopen(htmlPath.c_str(), "w");
        AppendIndexLink(htmlName);
        if (!text || !html) {
            PrintNotCreated(!text ? textPath : htmlPath);
            // The one that did open is left empty.
            NoteUnwrittenReportFile(textName);
            NoteUnwrittenReportFile(htmlName);
            if (text)
                std::fclose(text);
            if (html)
                std::fclose(html);
            return;
        }

        char heading[48];
        std::snprintf(heading, sizeof heading, "Device Operational Report for MAC = %d", mac);
        std::string title = std::string(heading) + "\n"; // the page title and h1 end with the line end
        std::string body = ReportBody(mac);

        // Heads of both files, the body of both, then the feet: the text footer's time is read after
        // the page head has taken its own.
        WriteTextTitle(text, heading);
        WriteHtmlHead(html, title.c_str());
        WriteHtmlTitle(html, title.c_str(), "");
        std::fputs(body.c_str(), text);
        std::fputs(body.c_str(), html);
        std::fputs(REPORT_RULE_LINE, text);
        WriteTextFooter(text);
        WriteHtmlContentsEnd(html);
        WriteHtmlFoot(html);

        CloseReportFile(text, textName);
        CloseReportFile(html, htmlName);
    }
}
