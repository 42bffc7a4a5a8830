// The captured log-file format as the reader takes it, through the real worker.
#include <fcntl.h>

#include <chrono>

#include "mstp_test_support.h"
#include "support/big_log.h"

using namespace mstptest;

namespace {

struct FormatCase {
    const char* name;
    const char* text;
    int reports; // frames expected; when 1 it must be the Token 7 -> 8
    int finalState;
};

const FormatCase kFormatCases[] = {
    {"Spaced", "55 FF 00 08 07 00 00 73\n", 1, LOG_READ_COMPLETED},
    {"NoSeparators", "55FF000807000073", 1, LOG_READ_COMPLETED},
    {"SingleDigits", "55 FF 0 8 7 0 0 73", 1, LOG_READ_COMPLETED},
    {"LowerCase", "55 ff 00 08 07 00 00 73", 1, LOG_READ_COMPLETED},
    {"MixedWhiteSpace", "\t55\r\n  FF\n00 08\v07\f00 00\n\n73\n\n", 1, LOG_READ_COMPLETED},
    {"EndsMidFrame", "55 FF", 0, LOG_READ_COMPLETED},
    {"EndsMidHeader", "55 FF 00 08 07 00 00", 0, LOG_READ_COMPLETED},
    {"Empty", "", 0, LOG_READ_COMPLETED},
    {"OnlyWhiteSpace", "  \n\t \r\n", 0, LOG_READ_COMPLETED},
    {"StopAfterFrame", "55 FF 00 08 07 00 00 73 stop", 1, LOG_READ_NOT_LOG_FILE},
    // The last octet read is not fed again: repeating 00 would invent a header-CRC error.
    {"StopMidHeader", "55 FF 00 08 07 00 00 stop", 0, LOG_READ_NOT_LOG_FILE},
    {"NotHexAtStart", "stop 55 FF 00 08 07 00 00 73", 0, LOG_READ_NOT_LOG_FILE},
    {"PlusSign", "+55 FF 00 08 07 00 00 73", 0, LOG_READ_NOT_LOG_FILE},
    {"PlusSignMidFrame", "55 FF 00 08 07 00 00 +73", 0, LOG_READ_NOT_LOG_FILE},
    {"MinusSign", "55 FF 00 08 07 00 00 -73", 0, LOG_READ_NOT_LOG_FILE},
    {"HexPrefix", "0x55 FF 00 08 07 00 00 73", 0, LOG_READ_NOT_LOG_FILE},
};

} // namespace

class LogFormat : public TempDirTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(LogFormat, ReadsHexOctetsOnly)
{
    const FormatCase& c = GetParam();
    LogRun run = RunLogCapture(Path("log.txt"), c.text);
    EXPECT_EQ(run.finalState, c.finalState);
    ASSERT_EQ(static_cast<int>(run.reports.size()), c.reports);
    if (c.reports == 1) {
        EXPECT_EQ(Hex(run.reports[0].octets), Hex(mstpgen::Frame(0, 8, 7)));
        EXPECT_EQ(run.reports[0].valid, 1);
    }
    // The position a progress bar reads never passes the file.
    EXPECT_LE(run.stack->m_lLogReadPosition.load(), static_cast<long>(strlen(c.text)));
}

INSTANTIATE_TEST_SUITE_P(Format, LogFormat, ::testing::ValuesIn(kFormatCases),
                         [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

class LogReader : public TempDirTest {};

// "0x73" reads as the octet 00 (a bad header CRC), then stops at the x.
TEST_F(LogReader, HexPrefixMidFrameGivesOneOctetThenStops)
{
    LogRun run = RunLogCapture(Path("x.txt"), "55 FF 00 08 07 00 00 0x73");
    EXPECT_EQ(run.finalState, LOG_READ_NOT_LOG_FILE);
    ASSERT_EQ(run.reports.size(), 1u);
    EXPECT_EQ(Hex(run.reports[0].octets), "55 FF 00 08 07 00 00 00\n");
    EXPECT_EQ(run.reports[0].errorKind, FRAME_ERROR_HEADER_CRC);
}

// After text that is not hex nothing more goes through the machine.
TEST_F(LogReader, NothingIsFedAfterNonHexText)
{
    LogRun run = RunLogCapture(Path("stop.txt"), "55 FF 00 08 07 00 00 73 55 stop");
    EXPECT_EQ(run.finalState, LOG_READ_NOT_LOG_FILE);
    ASSERT_EQ(run.reports.size(), 1u);
    EXPECT_EQ(run.stack->EventCount, 9u); // 8 of the Token and the lone 0x55, never repeated
    EXPECT_EQ(run.stack->m_nReceiveState, RECEIVE_STATE_PREAMBLE);
}

// A file that grew after it was measured is read only as far as the measured length.
TEST_F(LogReader, GrownFileIsReadToMeasuredLength)
{
    const std::string first = Hex(mstpgen::Frame(0, 8, 7));
    const std::string text = first + Hex(mstpgen::Frame(0, 10, 8));
    LogRun run = RunLogCapture(Path("grown.txt"), text, true, static_cast<long>(first.size()));
    EXPECT_EQ(run.finalState, LOG_READ_COMPLETED);
    ASSERT_EQ(run.reports.size(), 1u);
    EXPECT_EQ(run.reports[0].destination, 8);
    EXPECT_LE(run.stack->m_lLogReadPosition.load(), static_cast<long>(first.size()) + 2);
}

// Text that follows the measured length is not judged: the capture of what was measured is complete.
// Text that begins inside it is judged, even when it was written after the measuring.
TEST_F(LogReader, GrownFileEndingInTextIsCompleteOnlyPastMeasuredLength)
{
    const std::string first = Hex(mstpgen::Frame(0, 8, 7));
    struct Case {
        const char* appended;
        int finalState;
    } cases[] = {
        {"\r\n-- capture closed --\r\n", LOG_READ_COMPLETED},
        {"  55 FF stop", LOG_READ_COMPLETED},
        {"stop", LOG_READ_NOT_LOG_FILE}, // begins right at the measured end: not past it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.appended);
        LogRun run = RunLogCapture(Path("grown-text.txt"), first + c.appended, true, static_cast<long>(first.size()));
        EXPECT_EQ(run.finalState, c.finalState);
        ASSERT_EQ(run.reports.size(), 1u);
        EXPECT_EQ(run.reports[0].valid, 1);
    }
}

// The end of the measured length in the middle of the last octet's digits still ends the reading.
TEST_F(LogReader, PositionAtEndIsPublished)
{
    const std::string text = Hex(mstpgen::Frame(6, 5, 7, {1, 2, 3, 4}));
    LogRun run = RunLogCapture(Path("pos.txt"), text);
    EXPECT_EQ(run.finalState, LOG_READ_COMPLETED);
    EXPECT_EQ(run.stack->m_lLogReadPosition.load(), static_cast<long>(text.size()));
}

// The reader takes the file a block of 16 KiB at a time: the octets, the positions and the end are the
// same wherever a block ends, inside a pair of digits, after a single digit or inside white space.
TEST_F(LogReader, BlockEndsChangeNothing)
{
    const std::string token = Hex(mstpgen::Frame(0, 8, 7));
    for (const std::string& frameText : {token, std::string("55FF0 8 7 0 0 73")}) {
        for (size_t pad = 16378; pad <= 16386; ++pad) {
            SCOPED_TRACE(frameText + " after " + std::to_string(pad));
            const std::string text = std::string(pad, ' ') + frameText + std::string(pad, '\n') + frameText;
            LogRun run = RunLogCapture(Path("pad.txt"), text);
            EXPECT_EQ(run.finalState, LOG_READ_COMPLETED);
            ASSERT_EQ(run.reports.size(), 2u);
            EXPECT_EQ(Hex(run.reports[0].octets), token);
            EXPECT_EQ(Hex(run.reports[1].octets), token);
            EXPECT_EQ(run.stack->m_lLogReadPosition.load(), static_cast<int64_t>(text.size()));
        }
    }
    // A 0 in the data is no white space: the text is not a log from there on.
    LogRun run = RunLogCapture(Path("nul.txt"), token + std::string(1, '\0') + token);
    EXPECT_EQ(run.finalState, LOG_READ_NOT_LOG_FILE);
    EXPECT_EQ(run.reports.size(), 1u);
    EXPECT_EQ(run.stack->m_lLogReadPosition.load(), static_cast<int64_t>(token.size()));
}

// A stream that failed to open is never read.
TEST_F(LogReader, MissingStreamIsNotRead)
{
    CMstpStack stack;
    stack.m_cSource = SOURCE_LOG_FILE;
    stack.m_pLogFile = nullptr;
    stack.m_lLogFileSize = 100;
    stack.SetFrameCallback(RecordFrame);
    ASSERT_EQ(stack.Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return stack.m_nLogReadState.load() != LOG_READ_NORMAL; }));
    stack.Disconnect();
    stack.WaitForWorker();
    EXPECT_EQ(stack.m_nLogReadState.load(), LOG_READ_OPEN_FAILED);
    EXPECT_TRUE(TakeReports().empty());
}

// A capture stopped in the middle of its file gives the stream back.
TEST_F(LogReader, StoppedCaptureClosesItsStream)
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += Hex(mstpgen::Frame(0, 8, 7));
    ASSERT_TRUE(mstpgen::WriteFile(Path("big.txt"), text));
    CMstpStack stack;
    stack.m_cSource = SOURCE_LOG_FILE;
    stack.m_pLogFile = fopen(Path("big.txt").c_str(), "r");
    ASSERT_NE(stack.m_pLogFile, nullptr);
    const int fd = fileno(stack.m_pLogFile);
    stack.m_lLogFileSize = static_cast<int32_t>(text.size());
    ASSERT_EQ(stack.Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
    stack.Disconnect();
    stack.WaitForWorker();
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

// A log past 2 GiB: a day of traffic at 38400 baud is about a gigabyte of text. Blank space (really
// written, so the reader reads all of it) carries the frames past the 2 GiB mark, one of them across
// it; every frame is read, and the position the progress bar reads is the true one.
TEST_F(LogReader, LogPastTwoGibibytesIsReadToItsEnd)
{
    const int64_t mark = mstpgen::kTwoGiB;
    uint64_t freeBytes = 0;
    if (!mstpgen::RoomForBigLog(m_dir, &freeBytes))
        GTEST_SKIP() << "needs 2.2 GB free in " << m_dir << " for a log past 2 GiB; " << freeBytes << " bytes free";

    const Octets head = mstpgen::Frame(0, 8, 7);
    mstpgen::NetworkSpec network;
    const mstpgen::Traffic tail = mstpgen::Generate(network, 3000);
    const std::string headText = Hex(head);
    const std::string tailText = Hex(tail.octets);
    const int64_t tailAt = mark - 4; // the tail's second octet stands across the mark
    const std::string path = Path("big.log");
    if (!mstpgen::WriteBlankPaddedLog(path, headText, tailAt, tailText))
        GTEST_SKIP() << "a log past 2 GiB could not be written in " << m_dir;
    const int64_t size = tailAt + static_cast<int64_t>(tailText.size());

    CMstpStack stack;
    stack.m_cSource = SOURCE_LOG_FILE;
    stack.m_pLogFile = fopen(path.c_str(), "r");
    ASSERT_NE(stack.m_pLogFile, nullptr);
    stack.m_lLogFileSize = size;
    stack.SetFrameCallback(RecordFrame);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(stack.Connect(NoDataIndication, 0, 9600, THIS_STATION, 0, 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return stack.m_nLogReadState.load() != LOG_READ_NORMAL; }));
    stack.Disconnect();
    stack.WaitForWorker();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    unlink(path.c_str());
    std::printf("read a log of %lld bytes in %.1f s\n", static_cast<long long>(size), seconds);

    EXPECT_EQ(stack.m_nLogReadState.load(), LOG_READ_COMPLETED);
    EXPECT_EQ(stack.m_lLogReadPosition.load(), size);
    std::vector<Report> reports = TakeReports();
    ASSERT_EQ(reports.size(), 1 + tail.frames);
    EXPECT_EQ(Hex(reports[0].octets), headText);
    Octets tailRead;
    for (size_t i = 1; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].valid, 1);
        mstpgen::Append(tailRead, reports[i].octets);
    }
    EXPECT_TRUE(tailRead == tail.octets) << "the frames past the mark, whole and in order";
}
