#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "reports/page_template.h"
#include "reports/statistics_update.h"
#include "reports_fixture.h"
#include "support/mstp_frames.h"

using namespace reports_test;
using mstpgen::Octets;

namespace {

const char* const kHeaderLines[] = {
    "-------------------------------------------------------------------------------",
    "\t\t\tRaw MSTP Frame log file",
    "-------------------------------------------------------------------------------",
    "\"Notes: In judging whether a frame is valid / invalid on this report we",
    "consider the frame only and do not consider its context. Thus a",
    "frame sent out of turn, is reported as 'valid' on this report if the",
    "frame is valid - checksum is correct, frame type and lengths are, for",
    "example, valid. Quorix produces other reports which evaluate the",
    "context of each frame.\"",
    "-------------------------------------------------------------------------------",
    "Frame count  Time Stamp                Source    Dest      Frame type              /comments    Frame Bytes and Notes   ",
    "",
};
constexpr size_t kHeaderLineCount = sizeof kHeaderLines / sizeof kHeaderLines[0];

std::string Hex(const Octets& octets)
{
    std::string s;
    char pair[4];
    for (uint8_t o : octets) {
        std::snprintf(pair, sizeof pair, "%02X ", o);
        s += pair;
    }
    return s;
}

Octets HeaderOnly(const Octets& frame)
{
    return Octets(frame.begin(), frame.begin() + 8);
}

class FrameMonitorTest : public ReportsTest {
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        BeginCapture(2009, 3, 5, 14, 7, 9);
    }

    void Deliver(Octets octets, int source, int destination, int valid, int errorKind)
    {
        OnMonitoredFrame(octets.data(), static_cast<unsigned>(octets.size()), static_cast<BYTE>(source),
                         static_cast<BYTE>(destination), valid, errorKind);
    }

    // The frame lines of the text log (after the header).
    std::vector<std::string> FrameLines() const
    {
        std::vector<std::string> lines = Lines(RawText());
        if (lines.size() < kHeaderLineCount)
            return {};
        return std::vector<std::string>(lines.begin() + kHeaderLineCount, lines.end());
    }
};

struct LineCase {
    const char* what;
    Octets octets;
    int source, destination, valid, errorKind;
    std::string rest; // the line after "Frame nnnnnn <stamp> "
};

TEST_F(FrameMonitorTest, EachKindOfFrameGivesItsWholeLine)
{
    const Octets token = mstpgen::Frame(0, 8, 7);
    Octets badHeader = token;
    badHeader[7] ^= 0x01;
    Octets tooLong = HeaderOnly(mstpgen::Frame(5, 9, 3, Octets(511, 0x11)));
    Octets badData = mstpgen::Frame(6, 20, 1, {0x01, 0x00, 0x10, 0x08});
    badData.back() ^= 0x40;

    std::vector<LineCase> cases;
    const char* names[8] = {"Token                   ", "Poll For Master         ", "Reply To Poll For Master",
                            "Test_Request            ", "Test_Response           ", "Data Expecting Reply    ",
                            "Data Not Expecting Reply", "Reply Postponed         "};
    for (int type = 0; type < 8; ++type) {
        Octets f = type >= 5 ? mstpgen::Frame(type, 2, 1, {0x01, 0x04}) : mstpgen::Frame(type, 2, 1);
        cases.push_back({names[type], f, 1, 2, 1, 0,
                         std::string("S_MAC-1   D_MAC-2   ") + names[type] + "/Valid  \t" + Hex(f)});
    }
    Octets reserved = mstpgen::Frame(9, 2, 1);
    cases.push_back({"type 9", reserved, 1, 2, 1, 0,
                     "S_MAC-1   D_MAC-2   Reserved by ASHRAE      /Valid  \t\t" + Hex(reserved)});
    Octets proprietary = mstpgen::Frame(200, 254, 100);
    cases.push_back({"type 200", proprietary, 100, 254, 1, 0,
                     "S_MAC-100 D_MAC-254 Non Bacnet frame        /Valid  \t\t" + Hex(proprietary)});
    cases.push_back({"kind 1", {0x55, 0x12}, 7, 8, 0, 1,
                     "None      None      None                    /Invalid\t55 12 " + std::string(18, ' ') +
                         " This was not the start of a new frame (Note1)"});
    cases.push_back({"kind 2", badHeader, 7, 8, 0, 2,
                     "S_MAC-7   D_MAC-8   Token                   /Invalid\t" + Hex(badHeader) +
                         " The Header CRC was incorrect thus source and destination addresses may be invalid (Note2)"});
    cases.push_back({"kind 3", tooLong, 3, 9, 0, 3,
                     "S_MAC-3   D_MAC-9   Data Expecting Reply    /Invalid\t" + Hex(tooLong) +
                         " Data Legnth was greater than the max data buffer size (Note4)"});
    cases.push_back({"kind 4", badData, 1, 20, 0, 4,
                     "S_MAC-1   D_MAC-20  Data Not Expecting Reply/Invalid\t" + Hex(badData) +
                         " The data CRC was incorrect and the data are invalid (Note3)"});

    int ms = 0;
    for (const LineCase& c : cases) {
        At(ms += 37);
        Deliver(c.octets, c.source, c.destination, c.valid, c.errorKind);
    }

    std::vector<std::string> lines = FrameLines();
    ASSERT_EQ(lines.size(), cases.size());
    ms = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        ms += 37;
        char head[64];
        std::snprintf(head, sizeof head, "Frame %06zu [05-03-2009 14:07:09:%03d] ", i, ms);
        EXPECT_EQ(lines[i], head + cases[i].rest) << cases[i].what;
    }
    EXPECT_EQ(RawHtml(), RawText().substr(RawText().find("Frame 000000")))
        << "the page gets the same lines, without the header";
}

TEST_F(FrameMonitorTest, TheExampleTokenAsTheThirteenthFrame)
{
    Octets token = {0x55, 0xFF, 0x00, 0x08, 0x07, 0x00, 0x00, 0x73};
    for (int i = 0; i < 13; ++i) {
        At(1000 + i);
        Deliver(token, 7, 8, 1, 0);
    }
    EXPECT_EQ(FrameLines().back(), "Frame 000012 [05-03-2009 14:07:10:012] S_MAC-7   D_MAC-8   "
                                   "Token                   /Valid  \t55 FF 00 08 07 00 00 73 ");
}

TEST_F(FrameMonitorTest, HeaderOnceThenNumberingFromZeroAndItsWrap)
{
    Octets token = mstpgen::Frame(0, 2, 1);
    Deliver(token, 1, 2, 1, 0);
    g_nFrameCounter = 999999;
    Deliver(token, 1, 2, 1, 0);
    Deliver(token, 1, 2, 1, 0);

    std::vector<std::string> lines = Lines(RawText());
    ASSERT_EQ(lines.size(), kHeaderLineCount + 3);
    for (size_t i = 0; i < kHeaderLineCount; ++i)
        EXPECT_EQ(lines[i], kHeaderLines[i]) << "header line " << i;
    EXPECT_EQ(lines[kHeaderLineCount].substr(0, 13), "Frame 000000 ");
    EXPECT_EQ(lines[kHeaderLineCount + 1].substr(0, 13), "Frame 999999 ");
    EXPECT_EQ(lines[kHeaderLineCount + 2].substr(0, 13), "Frame 000000 ");
}

TEST_F(FrameMonitorTest, NewCaptureRestartsNumberingAndHeader)
{
    Octets token = mstpgen::Frame(0, 2, 1);
    Deliver(token, 1, 2, 1, 0);
    Deliver(token, 1, 2, 1, 0);
    EXPECT_EQ(g_MstpStack.m_bNewCapture, 0);
    EXPECT_EQ(g_nFrameCounter, 2);

    g_MstpStack.m_bNewCapture = 1; // the next Start, same folder
    Deliver(token, 1, 2, 1, 0);
    std::vector<std::string> lines = Lines(RawText());
    ASSERT_EQ(lines.size(), 2 * kHeaderLineCount + 3);
    EXPECT_EQ(lines[kHeaderLineCount + 2], kHeaderLines[0]);
    EXPECT_EQ(lines.back().substr(0, 13), "Frame 000000 ");
}

// 55 55 FF 00 ...: the type octet sits behind the repeated preamble, not at the third place.
TEST_F(FrameMonitorTest, RepeatedPreambleStillFindsTheType)
{
    Octets token = mstpgen::Frame(0, 4, 3);
    token.insert(token.begin(), 0x55);
    token.insert(token.begin(), 0x55);
    Deliver(token, 3, 4, 1, 0);
    ASSERT_EQ(FrameLines().size(), 1u);
    EXPECT_EQ(FrameLines()[0].substr(FrameLines()[0].find("S_MAC")),
              "S_MAC-3   D_MAC-4   Token                   /Valid  \t55 55 55 FF 00 04 03 00 00 " +
                  Hex({token.back()}));
    EXPECT_EQ(g_pDevices[3].m_bMaster, 1);
    EXPECT_EQ(g_pDevices[3].m_nFrameCount[0][0], 1);
    EXPECT_EQ(g_NetworkStatistics.m_byTopMaster, 3);
}

TEST_F(FrameMonitorTest, FrameTypeOctetCases)
{
    const Octets plain = {0x55, 0xFF, 0x05, 1, 2};
    const Octets repeated = {0x55, 0x55, 0x55, 0xFF, 0x06, 1, 2};
    const Octets cut = {0x55, 0x55, 0xFF};
    const Octets notFrame = {0x55, 0x12};
    EXPECT_EQ(FrameTypeOctet(plain.data(), plain.size()), 0x05);
    EXPECT_EQ(FrameTypeOctet(repeated.data(), repeated.size()), 0x06);
    EXPECT_EQ(FrameTypeOctet(cut.data(), cut.size()), 0xFF);
    EXPECT_EQ(FrameTypeOctet(notFrame.data(), notFrame.size()), 0xFF);
}

TEST_F(FrameMonitorTest, OnlyIntactHeadersAreCounted)
{
    Octets token = mstpgen::Frame(0, 8, 7);
    Octets badHeader = token;
    badHeader[7] ^= 0x01;
    Deliver({0x55, 0x12}, 7, 8, 0, 1);
    Deliver(badHeader, 7, 8, 0, 2);
    EXPECT_EQ(g_pDevices[7].m_nFrameCount[0][0], 0);
    EXPECT_EQ(g_pDevices[7].m_bMaster, 0);

    Octets tooLong = HeaderOnly(mstpgen::Frame(6, 9, 7, Octets(511, 0)));
    Octets badData = mstpgen::Frame(6, 9, 7, {1, 2, 3});
    badData.back() ^= 1;
    Deliver(tooLong, 7, 9, 0, 3);
    Deliver(badData, 7, 9, 0, 4);
    EXPECT_EQ(g_pDevices[7].m_nFrameCount[6][0], 2);
    EXPECT_EQ(g_pDevices[9].m_nFrameCount[6][1], 2);
    EXPECT_EQ(g_pDevices[7].m_nSentTo[9], 1) << "kind 3 is a pair, kind 4 is not";
    EXPECT_EQ(FrameLines().size(), 4u);
}

TEST_F(FrameMonitorTest, TextLogThatCannotOpenLosesOnlyThisFrame)
{
    g_strReportPath = m_dir + "/missing-folder";
    testing::internal::CaptureStdout();
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Can not open raw log file to write log!");
    EXPECT_EQ(g_nFrameCounter, 0);
    EXPECT_EQ(g_pDevices[1].m_nFrameCount[0][0], 0);
    EXPECT_EQ(g_MstpStack.m_bNewCapture, 0);
    EXPECT_EQ(RawLogFramesLost(), 1) << "its line is missing from the log";

    g_strReportPath = m_dir;
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    EXPECT_EQ(FrameLines().size(), 1u);
    EXPECT_EQ(FrameLines()[0].substr(0, 13), "Frame 000000 ");
    EXPECT_EQ(RawLogFramesLost(), 1);
    ASSERT_TRUE(WriteRawLogStop());
    EXPECT_EQ(TakeUnwrittenReportFiles(), (std::vector<std::string>{RAW_LOG_TEXT_FILE, RAW_LOG_HTML_FILE}));
}

// Both logs on a full disk: they open, and every write fails. Each frame is still numbered and
// counted, and each is a line lost. The header stays due until it reaches the file.
TEST_F(FrameMonitorTest, LogsOnAFullDiskCountEveryLostLine)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    std::filesystem::create_symlink("/dev/full", Path(RAW_LOG_TEXT_FILE));
    std::filesystem::create_symlink("/dev/full", Path(RAW_LOG_HTML_FILE));
    testing::internal::CaptureStdout();
    for (int i = 0; i < 3; ++i)
        Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the files did open";
    EXPECT_EQ(RawLogFramesLost(), 3);
    EXPECT_EQ(g_nFrameCounter, 3);
    EXPECT_EQ(g_pDevices[1].m_nFrameCount[0][0], 3);

    // Room again for the text log: its first line that arrives comes after the header.
    std::filesystem::remove(Path(RAW_LOG_TEXT_FILE));
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    std::vector<std::string> lines = Lines(RawText());
    ASSERT_EQ(lines.size(), kHeaderLineCount + 1);
    EXPECT_EQ(lines[0], kHeaderLines[0]);
    EXPECT_EQ(lines.back().substr(0, 13), "Frame 000003 ");
    EXPECT_EQ(RawLogFramesLost(), 3);

    EXPECT_FALSE(WriteRawLogStop()) << "the page's closing pieces cannot be written";
    EXPECT_EQ(TakeUnwrittenReportFiles(), (std::vector<std::string>{RAW_LOG_HTML_FILE, RAW_LOG_TEXT_FILE}));
}

TEST_F(FrameMonitorTest, PageOnAFullDiskLeavesTheTextLogWhole)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    std::filesystem::create_symlink("/dev/full", Path(RAW_LOG_HTML_FILE));
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    Deliver(mstpgen::Frame(0, 1, 2), 2, 1, 1, 0);
    EXPECT_EQ(FrameLines().size(), 2u);
    EXPECT_EQ(RawLogFramesLost(), 0);
    std::filesystem::remove(Path(RAW_LOG_HTML_FILE));
    EXPECT_TRUE(WriteRawLogStop());
    EXPECT_EQ(TakeUnwrittenReportFiles(), std::vector<std::string>{RAW_LOG_HTML_FILE}) << "it lacks frame lines";
}

// The count is the capture's own: a new Start has lost nothing until its frames do.
TEST_F(FrameMonitorTest, LostLinesAreCountedPerCapture)
{
    g_strReportPath = m_dir + "/missing-folder";
    testing::internal::CaptureStdout();
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(RawLogFramesLost(), 2);

    g_strReportPath = m_dir;
    g_MstpStack.m_bNewCapture = 1;
    EXPECT_EQ(RawLogFramesLost(), 0) << "no frame of the new capture yet";
    EXPECT_TRUE(WriteRawLogStop());
    EXPECT_TRUE(TakeUnwrittenReportFiles().empty()) << "the last capture's losses are not this one's";
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    EXPECT_EQ(RawLogFramesLost(), 0);
}

// A file-size limit, as a disk that fills in the middle of a line: the write stops short, the rest
// of that line and every later line are lost. Run in a child process, which alone has the limit.
TEST_F(FrameMonitorTest, ADiskThatFillsMidLineLosesThatLineAndTheRest)
{
    const Octets token = mstpgen::Frame(0, 2, 1);
    Deliver(token, 1, 2, 1, 0);
    const off_t first = static_cast<off_t>(RawText().size());
    const off_t line = first - static_cast<off_t>(RawText().find("Frame 000000"));
    const off_t limit = first + line + 10; // one more whole line and ten octets of the next

    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, nullptr);
        struct rlimit size = {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        setrlimit(RLIMIT_FSIZE, &size);
        Octets frame = token;
        for (int i = 0; i < 5; ++i)
            OnMonitoredFrame(frame.data(), static_cast<unsigned>(frame.size()), 1, 2, 1, 0);
        int result[3] = {RawLogFramesLost(), g_nFrameCounter, g_pDevices[1].m_nFrameCount[0][0]};
        _exit(write(report[1], result, sizeof result) == sizeof result ? 0 : 1);
    }
    close(report[1]);
    int result[3] = {};
    ssize_t got = read(report[0], result, sizeof result);
    close(report[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof result));
    EXPECT_EQ(result[0], 4) << "the cut line and the three after it";
    EXPECT_EQ(result[1], 6);
    EXPECT_EQ(result[2], 6) << "every frame is still counted";

    const std::string text = RawText();
    EXPECT_EQ(static_cast<off_t>(text.size()), limit);
    std::vector<std::string> lines = FrameLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].substr(0, 13), "Frame 000001 ");
    EXPECT_EQ(lines[2], "Frame 0000") << "the cut line ends the file";
}

TEST_F(FrameMonitorTest, PageThatCannotOpenLeavesTheTextLogAndTheCount)
{
    ASSERT_EQ(mkdir(Path(RAW_LOG_HTML_FILE).c_str(), 0700), 0); // a folder where the page should be
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    EXPECT_EQ(FrameLines().size(), 1u);
    EXPECT_EQ(g_pDevices[1].m_nFrameCount[0][0], 1);
    EXPECT_EQ(g_nFrameCounter, 1);
}

TEST_F(FrameMonitorTest, LongestFrameIsLoggedWhole)
{
    Octets big = mstpgen::Frame(6, 2, 1, Octets(500, 0xAB));
    ASSERT_EQ(big.size(), 510u);
    Deliver(big, 1, 2, 1, 0);
    ASSERT_EQ(FrameLines().size(), 1u);
    EXPECT_EQ(FrameLines()[0].substr(FrameLines()[0].find('\t') + 1), Hex(big));
}

TEST_F(FrameMonitorTest, CaptureWithoutFramesHasOnlyStartAndStopPieces)
{
    g_fakeWall = Utc(2009, 3, 5, 14, 7, 9);
    ASSERT_TRUE(WriteRawLogStart());
    g_fakeWall = Utc(2009, 3, 5, 14, 9, 0);
    ASSERT_TRUE(WriteRawLogStop());

    EXPECT_EQ(RawText(), "\n------------------------------------------------------------------------------------------------------\n"
                         "\n\n\t\"Created by Quorix v1.1.0, a tool of Vantrel\"\n\t[05-03-2009 14:09:00]\n");
    std::string html = RawHtml();
    std::string title = "\t<div id='title'>\t<h1>Raw MSTP Frame log file</h1>\t<p></p>\t</div>\t<div id='contents'><pre>";
    size_t at = html.find(title);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(html.substr(0, 9), "<!DOCTYPE");
    EXPECT_EQ(html.find("<title>Raw MSTP Frame log file</title>") < at, true);
    EXPECT_EQ(html.substr(at + title.size(), 26), "\t</pre></div>\t</div>\t<div ");
    EXPECT_EQ(html.substr(html.size() - 14), "</body></html>");
}

// Both logs of a short capture, whole: Start's page head, two frame lines, Stop's closing pieces.
TEST_F(FrameMonitorTest, BothLogsOfAShortCaptureWhole)
{
    g_fakeWall = Utc(2009, 3, 5, 14, 7, 9);
    ASSERT_TRUE(WriteRawLogStart());
    At(1250);
    Deliver({0x55, 0xFF, 0x00, 0x08, 0x07, 0x00, 0x00, 0x73}, 7, 8, 1, 0);
    At(1300);
    Deliver({0x55, 0x12}, 0, 0, 0, 1);
    g_fakeWall = Utc(2009, 3, 5, 14, 9, 0);
    ASSERT_TRUE(WriteRawLogStop());

    const std::string lines =
        "Frame 000000 [05-03-2009 14:07:10:250] S_MAC-7   D_MAC-8   Token                   /Valid  \t"
        "55 FF 00 08 07 00 00 73 \n"
        "Frame 000001 [05-03-2009 14:07:10:300] None      None      None                    /Invalid\t"
        "55 12                    This was not the start of a new frame (Note1)\n";
    const std::string rule79(79, '-');
    std::string text = rule79 + "\n\t\t\tRaw MSTP Frame log file\n" + rule79 +
                       "\n\"Notes: In judging whether a frame is valid / invalid on this report we\n"
                       "consider the frame only and do not consider its context. Thus a\n"
                       "frame sent out of turn, is reported as 'valid' on this report if the\n"
                       "frame is valid - checksum is correct, frame type and lengths are, for\n"
                       "example, valid. Quorix produces other reports which evaluate the\n"
                       "context of each frame.\"\n" +
                       rule79 +
                       "\nFrame count  Time Stamp                Source    Dest      Frame type              "
                       "/comments    Frame Bytes and Notes   \n\n" +
                       lines + "\n" + std::string(102, '-') +
                       "\n\n\n\t\"Created by Quorix v1.1.0, a tool of Vantrel\"\n\t[05-03-2009 14:09:00]\n";
    EXPECT_EQ(RawText(), text);
    EXPECT_EQ(RawHtml(), ExpectedHead("Raw MSTP Frame log file", "[05-03-2009 14:07:09]") +
                             "\t<div id='title'>\t<h1>Raw MSTP Frame log file</h1>\t<p></p>\t</div>"
                             "\t<div id='contents'><pre>" +
                             lines + "\t</pre></div>\t</div>" + ExpectedFoot("[05-03-2009 14:07:09]"));
}

TEST_F(FrameMonitorTest, WriteRawLogPiecesReportAFolderThatIsMissing)
{
    g_strReportPath = m_dir + "/missing-folder";
    EXPECT_FALSE(WriteRawLogStart());
    EXPECT_FALSE(WriteRawLogStop());
}

TEST_F(FrameMonitorTest, NoReportFolderYetWritesNothing)
{
    g_strReportPath.clear();
    testing::internal::CaptureStdout();
    Deliver(mstpgen::Frame(0, 2, 1), 1, 2, 1, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Can not open raw log file to write log!");
    EXPECT_FALSE(WriteRawLogStart());
    EXPECT_FALSE(WriteRawLogStop());
    struct stat st {};
    EXPECT_NE(stat("/Raw_mstp_frames.txt", &st), 0);
}

// The raw frame page of a whole capture is well-formed XHTML: checked by a real XML parser.
TEST_F(FrameMonitorTest, GeneratedPageParsesAsXml)
{
    ASSERT_TRUE(WriteRawLogStart());
    Deliver(mstpgen::Frame(0, 3, 1), 1, 3, 1, 0);
    Deliver({0x55, 0x00}, 0, 0, 0, 1);
    Deliver(mstpgen::Frame(6, 255, 1, {1, 2, 3, 4}), 1, 255, 1, 0);
    Deliver(mstpgen::Frame(200, 3, 1), 1, 3, 1, 0);
    ASSERT_TRUE(WriteRawLogStop());

    std::string script = Path("check.py");
    ASSERT_TRUE(mstpgen::WriteFile(script, "import sys, xml.dom.minidom\n"
                                           "doc = xml.dom.minidom.parse(sys.argv[1])\n"
                                           "root = doc.documentElement\n"
                                           "assert root.tagName == 'html', root.tagName\n"
                                           "assert root.getAttribute('xmlns') == 'http://www.w3.org/1999/xhtml'\n"
                                           "assert doc.doctype.publicId == '-//W3C//DTD XHTML 1.0 Strict//EN'\n"
                                           "pre = doc.getElementsByTagName('pre')\n"
                                           "assert len(pre) == 1\n"
                                           "print(pre[0].firstChild.data.count('Frame '))\n"));
    std::string command = "python3 '" + script + "' '" + Path(RAW_LOG_HTML_FILE) + "' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char out[4096] = {};
    size_t n = std::fread(out, 1, sizeof out - 1, p);
    int status = pclose(p);
    EXPECT_EQ(status, 0) << std::string(out, n);
    EXPECT_EQ(std::string(out, n), "4\n");
}

} // namespace
