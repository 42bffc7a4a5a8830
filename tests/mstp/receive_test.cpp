// The receive machine driven by the real worker from a captured log file.
#include "receive_cases.h"

using namespace mstptest;

class ReceiveFromLogFile : public TempDirTest, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceiveFromLogFile, ReportsEveryFrameWithItsOctets)
{
    const ReceiveCase& c = GetParam();
    LogRun run = RunLogCapture(Path("capture.txt"), Hex(c.input));
    EXPECT_EQ(run.finalState, LOG_READ_COMPLETED);
    ExpectReports(c.expected, run.reports);
}

INSTANTIATE_TEST_SUITE_P(Table, ReceiveFromLogFile, ::testing::ValuesIn(ReceiveCases()),
                         [](const ::testing::TestParamInfo<ReceiveCase>& info) { return info.param.name; });

class ReceiveFlags : public TempDirTest {};

// In listen-only mode a valid frame keeps its flag only when it is for this station or everyone.
TEST_F(ReceiveFlags, ValidFlagAfterFrameDependsOnDestination)
{
    struct Case {
        uint8_t destination;
        BOOL flag;
    } cases[] = {{8, 0}, {THIS_STATION, 1}, {MSTP_BROADCAST, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destination);
        LogRun run = RunLogCapture(Path("flags.txt"), Hex(mstpgen::Frame(0, c.destination, 7)));
        ASSERT_EQ(run.reports.size(), 1u);
        EXPECT_EQ(run.stack->ReceivedValidFrame, c.flag);
    }
}

// Without a frame monitor, a frame for another station is dropped at its header and reports nothing.
TEST_F(ReceiveFlags, WithoutMonitorOtherStationsFramesAreNotForUs)
{
    LogRun run = RunLogCapture(Path("nomon.txt"), Hex(mstpgen::Frame(0, 8, 7)), false);
    EXPECT_TRUE(run.reports.empty());
    EXPECT_EQ(run.stack->ReceivedValidFrame, 0);
    EXPECT_EQ(run.stack->m_nReceiveState, RECEIVE_STATE_IDLE);

    run = RunLogCapture(Path("nomon2.txt"), Hex(mstpgen::Frame(0, THIS_STATION, 7)), false);
    EXPECT_EQ(run.stack->ReceivedValidFrame, 1);
}

// Each octet outside the data counts one event: the Token is 8, its data octets would not count.
TEST_F(ReceiveFlags, EventCountSkipsDataOctets)
{
    LogRun run = RunLogCapture(Path("events.txt"), Hex(mstpgen::Frame(6, 5, 7, {1, 2, 3})));
    ASSERT_EQ(run.reports.size(), 1u);
    EXPECT_EQ(run.stack->EventCount, 8u);
    EXPECT_EQ(run.stack->DataLength, 3);
    EXPECT_EQ(run.stack->InputBuffer[2], 3);
}

// A serial step that takes no octet off the line (the port delivers nothing, as a device that has
// just gone away) leaves the frame in progress as it was: no octet is made up in its place.
TEST_F(ReceiveFlags, SerialStepWithoutOctetChangesNothing)
{
    struct Case {
        const char* name;
        int state;
        uint32_t index;
    } cases[] = {
        {"after the opening 0x55", RECEIVE_STATE_PREAMBLE, 0},
        {"at the header CRC", RECEIVE_STATE_HEADER, 5},
        {"in the data", RECEIVE_STATE_DATA, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMstpStack stack; // its serial port is closed: nothing is ever queued
        stack.SetFrameCallback(RecordFrame);
        stack.m_bConnected.store(1);
        stack.m_RawFrame[0] = 0x55;
        stack.LastFrameBufferSize = 1;
        stack.m_nReceiveState = c.state;
        stack.Index = c.index;
        stack.DataLength = 4;
        stack.HeaderCRC = 0x12;
        stack.EventCount = 3;
        stack.DataAvailable = 1;
        stack.ReceiveFrameFSM();
        EXPECT_TRUE(TakeReports().empty());
        EXPECT_EQ(stack.m_nReceiveState, c.state);
        EXPECT_EQ(stack.Index, c.index);
        EXPECT_EQ(stack.EventCount, 3u);
        EXPECT_EQ(stack.LastFrameBufferSize, 1u);
        EXPECT_EQ(stack.DataAvailable, 0);
        stack.m_bConnected.store(0);
    }
}
