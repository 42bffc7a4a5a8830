#include "reports/frame_monitor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

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

constexpr std::string_view kRawHeader =
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

// The text log's header (when it is due) followed by the frame's line, so that each file gets one
// write; the page takes the line alone.
struct LineBuilder {
    char text[kRawHeader.size() + kLineSize];
    size_t lineStart = 0;
    size_t used = 0;

    void AddHeader()
    {
        std::memcpy(text, kRawHeader.data(), kRawHeader.size());
        lineStart = used = kRawHeader.size();
        text[used] = '\0';
    }

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

    const char* Line() const { return text + lineStart; }
    size_t LineSize() const { return used - lineStart; }
};

// Decimal digits of value, at least width of them, zero-padded in front ("%0*d" for the values
// that fit); returns the end.
char* PutDigits(char* out, unsigned value, int width)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (; width > n; --width)
        *out++ = '0';
    while (n > 0)
        *out++ = digits[--n];
    return out;
}

// " [dd-mm-yyyy hh:mm:ss:mmm]" of the capture clock. The clock's fields are always in range; a
// value that is not would be formatted by the C runtime, to the same text.
void FormatCaptureStamp(char (&stamp)[CAPTURE_STAMP_SIZE], const CNetworkStatistics& st)
{
    const bool inRange = st.m_nDay >= 0 && st.m_nDay < 100 && st.m_nMonth >= 0 && st.m_nMonth < 100 &&
                         st.m_nYear >= 0 && st.m_nYear < 10000 && st.m_nHour >= 0 && st.m_nHour < 100 &&
                         st.m_nMinute >= 0 && st.m_nMinute < 100 && st.m_nSecond >= 0 && st.m_nSecond < 100 &&
                         st.m_nMillisecond >= 0 && st.m_nMillisecond < 1000;
    if (!inRange) {
        std::snprintf(stamp, sizeof stamp, " [%02d-%02d-%02d %02d:%02d:%02d:%03d]", st.m_nDay, st.m_nMonth,
                      st.m_nYear, st.m_nHour, st.m_nMinute, st.m_nSecond, st.m_nMillisecond);
        return;
    }
    char* p = stamp;
    *p++ = ' ';
    *p++ = '[';
    p = PutDigits(p, static_cast<unsigned>(st.m_nDay), 2);
    *p++ = '-';
    p = PutDigits(p, static_cast<unsigned>(st.m_nMonth), 2);
    *p++ = '-';
    p = PutDigits(p, static_cast<unsigned>(st.m_nYear), 2);
    *p++ = ' ';
    p = PutDigits(p, static_cast<unsigned>(st.m_nHour), 2);
    *p++ = ':';
    p = PutDigits(p, static_cast<unsigned>(st.m_nMinute), 2);
    *p++ = ':';
    p = PutDigits(p, static_cast<unsigned>(st.m_nSecond), 2);
    *p++ = ':';
    p = PutDigits(p, static_cast<unsigned>(st.m_nMillisecond), 3);
    *p++ = ']';
    *p = '\0';
}

// "S_MAC-%-3d " or "D_MAC-%-3d " of an address octet: 10 characters.
void FormatAddress(char (&out)[14], char which, BYTE address)
{
    std::memcpy(out, "S_MAC-", 6);
    out[0] = which;
    char* p = PutDigits(out + 6, address, 1);
    while (p < out + 9)
        *p++ = ' ';
    *p++ = ' ';
    *p = '\0';
}

// "<type name>/<verdict>", with a tab after it when asked: at most 24 + 1 + 7 + 1 characters.
void FormatTypeText(char (&out)[40], const char* name, const char* verdict, bool tab)
{
    char* p = out;
    std::memcpy(p, name, 24);
    p += 24;
    *p++ = '/';
    std::memcpy(p, verdict, 7);
    p += 7;
    if (tab)
        *p++ = '\t';
    *p = '\0';
}

// The two log files of the report folder, built again only when the folder changes (every Start
// names a new one). The frame monitor's own: one frame at a time.
struct RawLogPaths {
    std::string folder;
    std::string text;
    std::string html;
    bool built = false;

    void Follow(const std::string& reportPath)
    {
        if (built && reportPath == folder)
            return;
        folder = reportPath;
        // Before any Start there is no folder: an empty path, which no open accepts, rather than a
        // file at the root of the file system.
        text = folder.empty() ? std::string() : folder + "/" + RAW_LOG_TEXT_FILE;
        html = folder.empty() ? std::string() : folder + "/" + RAW_LOG_HTML_FILE;
        built = true;
    }
};

RawLogPaths g_rawLogPaths;

// What did not reach the raw frame logs in this capture; reset with the frame numbering.
int g_nRawTextFramesLost = 0;
bool g_bRawPageIncomplete = false;

// Each log is opened, written once and closed for every frame, so no stream buffer is needed.
int OpenForAppend(const std::string& path)
{
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes all of data, going on after a short write; the octets written.
size_t WriteWhole(int fd, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

// A failed close may be where a full disk shows first: the data is then not known to be there.
bool CloseFile(int fd)
{
    return close(fd) == 0;
}

// The counts above belong to the capture under way once its first frame has arrived.
bool FramesOfThisCapture()
{
    return g_MstpStack.m_bNewCapture != 1;
}

// Start's and Stop's pieces (UI thread, the worker not running): streams as ever, and no notice on
// standard output; a file that does not open is noted.
FILE* OpenRawLogPiece(const char* fileName)
{
    if (g_strReportPath.empty())
        return nullptr;
    FILE* f = std::fopen(ReportFilePath(fileName).c_str(), "a+");
    if (!f)
        NoteUnwrittenReportFile(fileName);
    return f;
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
        g_nRawTextFramesLost = 0;
        g_bRawPageIncomplete = false;
    }

    g_rawLogPaths.Follow(g_strReportPath);
    const int text = OpenForAppend(g_rawLogPaths.text);
    const int html = OpenForAppend(g_rawLogPaths.html);
    if (text < 0) {
        std::printf("Can not open raw log file to write log!");
        if (html >= 0)
            CloseFile(html);
        ++g_nRawTextFramesLost;
        g_bRawPageIncomplete = true;
        return;
    }

    LineBuilder line;
    const bool header = g_bWriteRawHeader == 1;
    if (header) {
        g_bWriteRawHeader = 0;
        line.AddHeader();
    }

    FrameText& ft = g_FrameText;
    FormatCaptureStamp(ft.m_szStamp, g_NetworkStatistics);
    FormatAddress(ft.m_szSource, 'S', source);
    FormatAddress(ft.m_szDestination, 'D', destination);

    if (nLength > static_cast<unsigned int>(MSTP_FRAME_BUFFER_SIZE))
        nLength = MSTP_FRAME_BUFFER_SIZE;
    const BYTE type = FrameTypeOctet(pFrame, nLength);

    char number[32];
    if (g_nFrameCounter >= 0 && g_nFrameCounter < 1000000) {
        std::memcpy(number, "Frame ", 6);
        *PutDigits(number + 6, static_cast<unsigned>(g_nFrameCounter), 6) = '\0';
    } else {
        std::snprintf(number, sizeof number, "Frame %06d", g_nFrameCounter);
    }
    line.Add(number);
    line.Add(ft.m_szStamp);
    line.Add(" ");

    if (valid) {
        FormatTypeText(ft.m_szType, FrameTypeName(type), "Valid  ", type >= 8);
        line.Add(ft.m_szSource);
        line.Add(ft.m_szDestination);
        line.Add(ft.m_szType);
        line.Add("\t");
        line.AddOctets(pFrame, nLength);
        line.Add("\n");
    } else if (errorKind == 1) {
        FormatTypeText(ft.m_szType, kNoneType, "Invalid", true);
        line.Add(kNoneAddress);
        line.Add(kNoneAddress);
        line.Add(ft.m_szType);
        line.AddOctets(pFrame, nLength);
        line.Add("                  ");
        line.Add(" This was not the start of a new frame (Note1)\n");
    } else {
        const char* note = nullptr;
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
        FormatTypeText(ft.m_szType, FrameTypeName(type), "Invalid", true);
        line.Add(ft.m_szSource);
        line.Add(ft.m_szDestination);
        line.Add(ft.m_szType);
        line.AddOctets(pFrame, nLength);
        line.Add(note);
    }

    const size_t textWritten = WriteWhole(text, line.text, line.used);
    bool textComplete = textWritten == line.used;
    // A header that never reached the file is still due before the first line that does.
    if (header && textWritten == 0)
        g_bWriteRawHeader = 1;
    bool pageComplete = html >= 0 && WriteWhole(html, line.Line(), line.LineSize()) == line.LineSize();

    if (valid || errorKind == 3 || errorKind == 4)
        UpdateStatistics(source, destination, type, ft.m_szStamp, errorKind);

    textComplete = CloseFile(text) && textComplete;
    if (html >= 0)
        pageComplete = CloseFile(html) && pageComplete;
    if (!textComplete)
        ++g_nRawTextFramesLost;
    if (!pageComplete)
        g_bRawPageIncomplete = true;
    g_nFrameCounter = (g_nFrameCounter + 1) % 1000000;
}

int RawLogFramesLost()
{
    // Until its first frame a capture has lost none; the count is still the last one's.
    return FramesOfThisCapture() ? g_nRawTextFramesLost : 0;
}

void OnDataIndication(BYTE* /*pData*/, unsigned short /*nLength*/, BYTE /*source*/)
{
}

bool WriteRawLogStart()
{
    FILE* html = OpenRawLogPiece(RAW_LOG_HTML_FILE);
    if (!html)
        return false;
    WriteHtmlHead(html, RAW_LOG_TITLE);
    WriteHtmlTitle(html, RAW_LOG_TITLE, "");
    return CloseReportFile(html, RAW_LOG_HTML_FILE);
}

bool WriteRawLogStop()
{
    bool ok = true;
    if (FILE* text = OpenRawLogPiece(RAW_LOG_TEXT_FILE)) {
        std::fputs("\n------------------------------------------------------------------------------------------------------\n",
                   text);
        WriteTextFooter(text);
        ok = CloseReportFile(text, RAW_LOG_TEXT_FILE) && ok;
    } else {
        ok = false;
    }
    if (FILE* html = OpenRawLogPiece(RAW_LOG_HTML_FILE)) {
        WriteHtmlContentsEnd(html);
        WriteHtmlFoot(html);
        ok = CloseReportFile(html, RAW_LOG_HTML_FILE) && ok;
    } else {
        ok = false;
    }
    // The frame lines of the capture: the worker has been joined, its record can be read.
    if (RawLogFramesLost() > 0)
        NoteUnwrittenReportFile(RAW_LOG_TEXT_FILE);
    if (FramesOfThisCapture() && g_bRawPageIncomplete)
        NoteUnwrittenReportFile(RAW_LOG_HTML_FILE);
    return ok;
}
