#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "diagnostics/debug_log.h"
#include "diagnostics/file_utils.h"
#include "diagnostics/hires_timer.h"
#include "platform/clock.h"
#include "platform/message_box.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// 3 February 2009 09:05:07 local time.
time_t FixedNow()
{
    struct tm t{};
    t.tm_year = 2009 - 1900;
    t.tm_mon = 1;
    t.tm_mday = 3;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    t.tm_isdst = -1;
    return mktime(&t);
}

const char* kPrefix = "\n[03-02-2009 09:05:07] ";

class LogDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/quorix-diag-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        previous_ = fs::current_path();
        fs::current_path(dir_);
        ResetLogPathsForTest();
        g_bDebugLog = 1;
        SetWallClockHook(&FixedNow);
    }
    void TearDown() override
    {
        SetWallClockHook(nullptr);
        SetMessageBoxHook(nullptr);
        g_bDebugLog = 1;
        fs::current_path(previous_);
        ResetLogPathsForTest();
        fs::remove_all(dir_);
    }
    std::string Debug() { return ReadAll(dir_ / "Debuglog.txt"); }
    std::string Plain() { return ReadAll(dir_ / "log.txt"); }

    fs::path dir_;
    fs::path previous_;
};

TEST_F(LogDir, EntriesCarryThePrefixAndAppendAcrossRuns)
{
    DebugLog("MSTP.FYI #101 - Disconnecting from MSTP network");
    Log("first %d", 1);
    // A second run in the same folder: the paths are built anew and the files keep growing.
    ResetLogPathsForTest();
    DebugLog("second run\n");
    Log("again");

    EXPECT_EQ(Plain(), std::string(kPrefix) + "first 1" + kPrefix + "again");
    EXPECT_EQ(Debug(), std::string(kPrefix) + "MSTP.FYI #101 - Disconnecting from MSTP network" + kPrefix + "first 1" +
                           kPrefix + "second run\n" + kPrefix + "again");
}

TEST_F(LogDir, PathIsFixedAtFirstUseNotByLaterDirectoryChanges)
{
    DebugLog("here");
    fs::create_directory(dir_ / "elsewhere");
    fs::current_path(dir_ / "elsewhere");
    DebugLog("still here");
    ClearLog(); // the first use of log.txt happens in the new directory
    EXPECT_EQ(g_strDebugLogFilePath, (dir_ / "Debuglog.txt").string());
    EXPECT_EQ(Debug(), std::string(kPrefix) + "here" + kPrefix + "still here");
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere" / "Debuglog.txt"));
    EXPECT_TRUE(fs::exists(dir_ / "elsewhere" / "log.txt"));
}

TEST_F(LogDir, PercentSignsPassThroughUnchanged)
{
    Log("%s", "progress 50% done %d");
    MessageF("%s", "100% %s");
    std::string plain = Plain();
    EXPECT_NE(plain.find("progress 50% done %d"), std::string::npos);
    EXPECT_NE(plain.find("msg=[100% %s]"), std::string::npos);
    std::string debug = Debug();
    EXPECT_NE(debug.find(std::string(kPrefix) + "progress 50% done %d"), std::string::npos);
    EXPECT_NE(debug.find("msg=[100% %s]"), std::string::npos);
}

TEST_F(LogDir, SwitchOffSilencesEverythingButLogTxtAndClear)
{
    g_bDebugLog = 0;
    DebugLog("no");
    const unsigned char bytes[2] = {1, 2};
    DebugDumpHex(bytes, 2);
    DebugDumpAscii(bytes, 2);
    Log("yes");
    EXPECT_FALSE(fs::exists(dir_ / "Debuglog.txt"));
    EXPECT_EQ(Plain(), std::string(kPrefix) + "yes");
    ClearDebugLog();
    EXPECT_TRUE(fs::exists(dir_ / "Debuglog.txt"));
    EXPECT_EQ(Debug(), "");
}

TEST_F(LogDir, ClearEmptiesExistingFiles)
{
    Log("something");
    ClearLog();
    ClearDebugLog();
    EXPECT_EQ(Plain(), "");
    EXPECT_EQ(Debug(), "");
}

TEST_F(LogDir, HexDumpLayout)
{
    const std::string head = "\nHEX:\n----------------------------------------\n000\t";
    struct Case {
        int size;
        std::string body;
    } cases[] = {
        {0, "\n\n"},
        {8, "00 01 02 03 04 05 06 07 \n008\t\n\n"},
        {10, "00 01 02 03 04 05 06 07 \n008\t08 09 \n\n"},
    };
    unsigned char bytes[10];
    for (int i = 0; i < 10; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    for (const Case& c : cases) {
        ClearDebugLog();
        DebugDumpHex(bytes, c.size);
        EXPECT_EQ(Debug(), std::string(kPrefix) + "Dumping memory, Size=[" + std::to_string(c.size) + "]" + head + c.body)
            << "size " << c.size;
    }
    ClearDebugLog();
    DebugDumpHex(nullptr, 4);
    EXPECT_EQ(Debug(), "");
}

TEST_F(LogDir, AsciiDumpWritesBytesUnfiltered)
{
    const unsigned char bytes[] = {'A', '\t', 'z', 0x7F};
    DebugDumpAscii(bytes, 4);
    EXPECT_EQ(Debug(), std::string(kPrefix) + "Dumping memory in Ascii, Size=[4]" +
                           "\n\nAscii:\n----------------------------------------\nA\tz\x7F\n\n\n");
}

TEST_F(LogDir, MessageAndLogLogsTextAndAnswer)
{
    std::vector<std::string> shown;
    int answer = IDNO;
    SetMessageBoxHook([&](const std::string& text, const std::string& caption, unsigned type) {
        shown.push_back(caption + "|" + text + "|" + std::to_string(type));
        return answer;
    });
    EXPECT_EQ(MessageAndLog(MB_YESNO, "Exit?\r\n%s", "Sure"), IDNO);
    answer = IDYES;
    EXPECT_EQ(MessageAndLog(MB_YESNO, "Again"), IDYES);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Message|Exit?\r\nSure|4");
    EXPECT_EQ(Plain(), std::string(kPrefix) + "MessageAndLog iType=[4] msg=[Exit?\r\nSure]" + kPrefix +
                           "MessageAndLog return = [ 7]" + kPrefix + "MessageAndLog iType=[4] msg=[Again]" + kPrefix +
                           "MessageAndLog return = [ 6]");
    // Every log.txt entry is mirrored into Debuglog.txt.
    EXPECT_EQ(Debug(), Plain());
}

TEST_F(LogDir, PanicShowsTheFixedLayout)
{
    std::string text;
    SetMessageBoxHook([&](const std::string& t, const std::string&, unsigned type) {
        text = t;
        EXPECT_EQ(type, static_cast<unsigned>(MB_OK));
        return IDOK;
    });
    Panic("a.cpp", 12, "Jan  1 2009", "10:00:00", "boom 5%");
    EXPECT_EQ(text, "PANIC!\r\n\r\nFile=[a.cpp] \r\nLine=[12]\r\nDate=[Jan  1 2009]\r\nTime=[10:00:00]\r\n\r\nMessage=[boom 5%]");
}

TEST_F(LogDir, WithoutAnInstalledBoxTheDefaultAnswerComesBack)
{
    EXPECT_EQ(MessageAndLog(MB_YESNO, "q"), IDYES);
    EXPECT_EQ(MessageAndLog(MB_OK, "q"), IDOK);
}

TEST_F(LogDir, LongTextsAreWrittenWhole)
{
    // Texts past the 4096-character buffers are kept whole in both files and in the box.
    std::string longText(10000, 'x');
    longText += "END";
    std::string shown;
    SetMessageBoxHook([&](const std::string& t, const std::string&, unsigned) {
        shown = t;
        return IDOK;
    });
    MessageAndLog(MB_OK, "%s", longText.c_str());
    EXPECT_EQ(shown, longText);
    EXPECT_NE(Plain().find("msg=[" + longText + "]"), std::string::npos);
    EXPECT_NE(Debug().find("msg=[" + longText + "]"), std::string::npos);
}

TEST_F(LogDir, ConcurrentEntriesStayWhole)
{
    const int threads = 8, perThread = 200;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                DebugLog("thread %d entry %d %s", t, i, "payload-payload-payload");
        });
    for (auto& th : pool)
        th.join();
    std::string text = Debug();
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line); // the leading line end
    int count = 0;
    std::vector<int> next(threads, 0);
    while (std::getline(lines, line)) {
        int t = -1, i = -1;
        char tail[64] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "[03-02-2009 09:05:07] thread %d entry %d %63s", &t, &i, tail), 3) << line;
        EXPECT_STREQ(tail, "payload-payload-payload");
        ASSERT_GE(t, 0);
        ASSERT_LT(t, threads);
        EXPECT_EQ(i, next[t]++);
        ++count;
    }
    EXPECT_EQ(count, threads * perThread);
}

TEST_F(LogDir, FileUtilities)
{
    WriteTextFile("f.txt", "old content that is long");
    WriteTextFile("f.txt", "v=%d", 42);
    EXPECT_EQ(ReadAll(dir_ / "f.txt"), "v=42");

    char buf[8] = {};
    EXPECT_TRUE(ReadFileBlock("f.txt", 2, 2, buf));
    EXPECT_EQ(std::string(buf, 2), "42");
    EXPECT_FALSE(ReadFileBlock("f.txt", 0, 5, buf)); // larger than the file
    EXPECT_FALSE(ReadFileBlock("missing.txt", 0, 1, buf));
    EXPECT_FALSE(ReadFileBlock(nullptr, 0, 1, buf));
    EXPECT_FALSE(ReadFileBlock("f.txt", 0, 0, buf));
    EXPECT_FALSE(ReadFileBlock("f.txt", 0, 1, nullptr));
}

TEST(BitUtilities, TestAndSet)
{
    EXPECT_TRUE(IsBitSet(0x04, 2));
    EXPECT_FALSE(IsBitSet(0x04, 3));
    EXPECT_TRUE(IsBitSet(0x80000000u, 31));
    struct Case {
        unsigned char start;
        unsigned bit;
        bool value;
        unsigned char expected;
    } cases[] = {
        {0x00, 0, true, 0x01}, {0x01, 0, true, 0x01}, {0xFF, 7, false, 0x7F},
        {0x10, 4, false, 0x00}, {0x5A, 8, true, 0x5A}, {0x5A, 3, true, 0x5A},
    };
    for (const Case& c : cases) {
        unsigned char b = c.start;
        SetBit(&b, c.bit, c.value);
        EXPECT_EQ(b, c.expected) << int(c.start) << " bit " << c.bit;
    }
}

std::atomic<int64_t> g_fakeCounter{0};
int64_t FakeCounter()
{
    return g_fakeCounter.load();
}

TEST(HiResTimer, LapsJoinAndAddUp)
{
    g_fakeCounter = 1000;
    SetPerformanceCounterHook(&FakeCounter);
    CHiResTimer timer;
    EXPECT_FLOAT_EQ(timer.GetLapSeconds(), 0.0f); // calibration lap on a counter that stands still
    float sum = 0;
    const int64_t steps[] = {50'000'000, 1'000'000, 250'000'000, 3};
    for (int64_t s : steps) {
        g_fakeCounter += s;
        timer.Tick();
        sum += timer.GetLapSeconds();
    }
    EXPECT_FLOAT_EQ(timer.GetLapSeconds(), timer.GetLapSeconds());
    EXPECT_NEAR(sum, 0.301f, 1e-6);
    g_fakeCounter += 20'000'000;
    EXPECT_NEAR(timer.GetElapsedSeconds(), 0.020f, 1e-6);
    SetPerformanceCounterHook(nullptr);
}

// A counter that moves on by uneven steps at every read, as a real one does while it is read.
const int64_t kMovingSteps[] = {7, 1000, 3, 250'000, 41, 999'999, 12};
std::atomic<int> g_movingReads{0};
int64_t MovingCounter()
{
    const int64_t step = kMovingSteps[g_movingReads.fetch_add(1) % 7];
    return g_fakeCounter.fetch_add(step) + step;
}

TEST(HiResTimer, LapsAddUpToTheWholeSpanOnACounterThatMovesAtEveryRead)
{
    g_fakeCounter = 0;
    g_movingReads = 0;
    SetPerformanceCounterHook(&MovingCounter);
    CHiResTimer timer;
    timer.Tick();
    const int64_t first = timer.m_liNow;
    double sum = 0;
    for (int i = 0; i < 50; ++i) {
        timer.Tick();
        sum += timer.GetLapSeconds();
    }
    // No stretch of the counter may fall between two laps, whatever a read costs.
    EXPECT_NEAR(sum, static_cast<double>(timer.m_liNow - first) / 1e9, 1e-7);
    // Elapsed time runs from the last Tick's reading: the one read it makes adds its own step.
    const double nextStep = static_cast<double>(kMovingSteps[g_movingReads % 7]) / 1e9;
    EXPECT_NEAR(timer.GetElapsedSeconds(), nextStep, 1e-12);
    SetPerformanceCounterHook(nullptr);
}

TEST(HiResTimer, RateStaysZeroUntilASecondIsGathered)
{
    g_fakeCounter = 0;
    SetPerformanceCounterHook(&FakeCounter);
    CHiResTimer timer;
    for (int i = 0; i < 4; ++i) {
        g_fakeCounter += 300'000'000;
        timer.Tick();
        EXPECT_EQ(timer.GetRate(), 0.0f) << i; // 0.3, 0.6, 0.9, 1.2 s gathered
    }
    g_fakeCounter += 300'000'000;
    timer.Tick();
    EXPECT_GT(timer.GetRate(), 0.0f);
    SetPerformanceCounterHook(nullptr);
}

TEST(HiResTimer, RealCounterMeasuresASleep)
{
    CHiResTimer timer;
    timer.Tick();
    usleep(50'000);
    timer.Tick();
    EXPECT_GE(timer.GetLapSeconds(), 0.049f);
}

} // namespace
