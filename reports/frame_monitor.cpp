#include "reports/frame_monitor.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "mstp/mstp_stack.h"
#include "reports/capture_clock.h"
#include "reports/page_template.h"
#include "reports/report_files.h"
#include "reports/statistics.h"
#include "reports/statistics_update.h"

const char* const g_pszFrameTypeNames[8] = {
    "Token                   ", "Poll For Master         ", "Reply To Poll For Master",
    "Test_Request            ", "Test_Response           ", "Data Expecting Reply    ",
    "Data Not Expecting Reply", "Reply Postponed         ",
};

namespace {

const char* const kReservedName = "Reserved by ASHRAE      ";
const char* const kNonBacnetName = "Non Bacnet frame        ";
const char* const kNoneType = "None                    ";
const char* const kNoneAddress = "None      ";

const char* const kRawHeader =
    "-------------------------------------------------------------------------------\n"
    "\t\t\tRaw MSTP Frame log file\n"
    "-------------------------------------------------------------------------------\n"
    "\"Notes: In judging whether a frame is valid / invalid on this report we\n"
    "consider the frame only and do not consider its context. Thus a\n"
    "frame sent out of turn, is reported as 'valid' on this report if the\n"
    "frame is valid - checksum is correct, frame type and lengths are, for\n"
    "example, valid. Quorix produces other reports which evaluate the\n"
    "context of each frame.\"\n"
    "-------------------------------------------------------------------------------\n"
    "Frame count  Time Stamp                Source    Dest      Frame type              /comments    "
    "Frame Bytes and Notes   \n\n";

// The longest line: its texts, 510 octets of three characters and the longest note.
constexpr size_t kLineSize = 256 + 3 * MSTP_FRAME_BUFFER_SIZE + 128;

struct LineBuilder {
    char text[kLineSize];
    size_t used = 0;

    void Add(const char* s)
    {
        size_t n = std::strlen(s);
        if (n > sizeof text - 1 - used)
            n = sizeof text - 1 - used;
        std::memcpy(text + used, s, n);
        used += n;
        text[used] = '\0';
    }

    void AddOctets(const BYTE* octets, unsigned int count)
    {
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < count && used + 3 < sizeof text; ++i) {
            text[used++] = kHex[octets[i] >> 4];
            text[used++] = kHex[octets[i] & 0x0F];
            text[used++] = ' ';
        }
        text[used] = '\0';
    }
};

// Before any Start there is no folder: an empty path, which no open accepts, rather than a file at
// the root of the file system.
std::string RawLogPath(const char* fileName)
{
    return g_strReportPath.empty() ? std::string() : ReportFilePath(fileName);
}

void WriteBoth(FILE* text, FILE* html, const char* data, size_t size)
{
    std::fwrite(data, 1, size, text);
    if (html)
        std::fwrite(data, 1, size, html);
}

} // namespace

const char* FrameTypeName(BYTE type)
{
    if (type < 8)
        return g_pszFrameTypeNames[type];
    return type < 128 ? kReservedName : kNonBacnetName;
}

BYTE FrameTypeOctet(const BYTE* pFrame, unsigned int nLength)
{
    unsigned int i = 0;
    while (i < nLength && pFrame[i] == 0x55)
        ++i;
    if (i + 1 < nLength && pFrame[i] == 0xFF)
        return pFrame[i + 1];
    return 0xFF;
}

void OnMonitoredFrame(BYTE* pFrame, unsigned int nLength, BYTE source, BYTE destination, int valid, int errorKind)
{
    UpdateCaptureClock();

    if (g_MstpStack.m_bNewCapture == 1) {
        g_MstpStack.m_bNewCapture = 0;
        g_bResetTokenState = 1;
        g_bWriteRawHeader = 1;
        g_nFrameCounter = 0;
    }

    FILE* text = std::fopen(RawLogPath(RAW_LOG_TEXT_FILE).c_str(), "a+");
    FILE* html = std::fopen(RawLogPath(RAW_LOG_HTML_FILE).c_str(), "a+");
    if (!text) {
        std::printf("Can not open raw log file to write log!");
        if (html)
            std::fclose(html);
        return;
    }

    if (g_bWriteRawHeader == 1) {
        g_bWriteRawHeader = 0;
        std::fputs(kRawHeader, text);
    }

    FrameText& ft = g_FrameText;
    std::snprintf(ft.m_szSource, sizeof ft.m_szSource, "%s", kNoneAddress);
    std::snprintf(ft.m_szDestination, sizeof ft.m_szDestination, "%s", kNoneAddress);
    std::snprintf(ft.m_szType, sizeof ft.m_szType, "%s", kNoneType);

    const CNetworkStatistics& st = g_NetworkStatistics;
    std::snprintf(ft.m_szStamp, sizeof ft.m_szStamp, " [%02d-%02d-%02d %02d:%02d:%02d:%03d]", st.m_nDay, st.m_nMonth,
                  st.m_nYear, st.m_nHour, st.m_nMinute, st.m_nSecond, st.m_nMillisecond);
    std::snprintf(ft.m_szSource, sizeof ft.m_szSource, "S_MAC-%-3d ", source);
    std::snprintf(ft.m_szDestination, sizeof ft.m_szDestination, "D_MAC-%-3d ", destination);

    if (nLength > static_cast<unsigned int>(MSTP_FRAME_BUFFER_SIZE))
        nLength = MSTP_FRAME_BUFFER_SIZE;
    const BYTE type = FrameTypeOctet(pFrame, nLength);

    LineBuilder line;
    char number[32];
    std::snprintf(number, sizeof number, "Frame %06d", g_nFrameCounter);
    line.Add(number);
    line.Add(ft.m_szStamp);
    line.Add(" ");

    const char* note = nullptr;
    if (valid) {
        std::snprintf(ft.m_szType, sizeof ft.m_szType, type < 8 ? "%s/%s" : "%s/%s\t", FrameTypeName(type), "Valid  ");
        line.Add(ft.m_szSource);
        line.Add(ft.m_szDestination);
        line.Add(ft.m_szType);
        line.Add("\t");
        line.AddOctets(pFrame, nLength);
        line.Add("\n");
    } else if (errorKind == 1) {
        std::snprintf(ft.m_szType, sizeof ft.m_szType, "%s/%s\t", kNoneType, "Invalid");
        line.Add(kNoneAddress);
        line.Add(kNoneAddress);
        line.Add(ft.m_szType);
        line.AddOctets(pFrame, nLength);
        line.Add("                  ");
        line.Add(" This was not the start of a new frame (Note1)\n");
    } else {
        switch (errorKind) {
        case 2:
            note = " The Header CRC was incorrect thus source and destination addresses may be invalid (Note2)\n";
            break;
        case 3:
            note = " Data Legnth was greater than the max data buffer size (Note4)\n";
            break;
        default:
            note = " The data CRC was incorrect and the data are invalid (Note3)\n";
            break;
        }
        std::snprintf(ft.m_szType, sizeof ft.m_szType, "%s/%s\t", FrameTypeName(type), "Invalid");
        line.Add(ft.m_szSource);
        line.Add(ft.m_szDestination);
        line.Add(ft.m_szType);
        line.AddOctets(pFrame, nLength);
        line.Add(note);
    }
    WriteBoth(text, html, line.text, line.used);

    if (valid || errorKind == 3 || errorKind == 4)
        UpdateStatistics(source, destination, type, ft.m_szStamp, errorKind);

    std::fclose(text);
    if (html)
        std::fclose(html);
    g_nFrameCounter = (g_nFrameCounter + 1) % 1000000;
}

void OnDataIndication(BYTE* /*pData*/, unsigned short /*nLength*/, BYTE /*source*/)
{
}

bool WriteRawLogStart()
{
    FILE* html = std::fopen(RawLogPath(RAW_LOG_HTML_FILE).c_str(), "a+");
    if (!html)
        return false;
    WriteHtmlHead(html, RAW_LOG_TITLE);
    WriteHtmlTitle(html, RAW_LOG_TITLE, "");
    std::fclose(html);
    return true;
}

bool WriteRawLogStop()
{
    bool ok = true;
    if (FILE* text = std::fopen(RawLogPath(RAW_LOG_TEXT_FILE).c_str(), "a+")) {
        std::fputs("\n------------------------------------------------------------------------------------------------------\n",
                   text);
        WriteTextFooter(text);
        std::fclose(text);
    } else {
        ok = false;
    }
    if (FILE* html = std::fopen(RawLogPath(RAW_LOG_HTML_FILE).c_str(), "a+")) {
        WriteHtmlContentsEnd(html);
        WriteHtmlFoot(html);
        std::fclose(html);
    } else {
        ok = false;
    }
    return ok;
}
