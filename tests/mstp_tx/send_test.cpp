// Frame transmission, the send queue and the raw frame dump, on stack objects of their own whose
// serial port is one end of a pseudo-terminal pair.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "mstp/mstp_stack.h"
#include "tests/mstp_tx/pty_line.h"
#include "tests/mstp_tx/tx_support.h"

using mstpgen::Frame;
using mstptx::Hex;
using mstptx::Octets;

namespace {

class SendFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.Ok());
        ASSERT_TRUE(line.Open());
        stack = std::make_unique<CMstpStack>();
        ASSERT_TRUE(stack->m_SerialPort.Open(line.Port(), 38400, 'N', 8, 1));
        stack->TS = 17;
        stack->NS = 17;
        stack->PS = 17;
    }

    // What the stack put on the line, assuming it sent at most `expected` octets.
    std::string Sent(size_t expected) { return Hex(line.Read(expected, 3000)); }
    std::string SentNothing() { return Hex(line.ReadAll(30)); }

    mstptx::ScratchDir dir;
    mstptx::PtyLine line;
    std::unique_ptr<CMstpStack> stack;
};

TEST_F(SendFrameTest, TokenFromStation7)
{
    stack->TS = 7;
    stack->SendFrame(FRAME_TYPE_TOKEN, 8, nullptr, 0);
    EXPECT_EQ(Sent(8), "55 FF 00 08 07 00 00 73");
}

TEST_F(SendFrameTest, DataFrameCarriesBothCrcs)
{
    const BYTE data[] = {0x01, 0x00};
    stack->SendFrame(FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 5, data, 2);
    Octets sent = line.Read(12, 3000);
    ASSERT_EQ(Hex(sent), "55 FF 06 05 11 00 02 BC 01 00 9F 16");

    // A receiver's registers end at the residues.
    BYTE header = 0xFF;
    for (size_t i = 2; i < 8; ++i)
        header = CalcHeaderCRC(sent[i], header);
    EXPECT_EQ(header, 0x55);
    uint16_t crc = 0xFFFF;
    for (size_t i = 8; i < sent.size(); ++i)
        crc = CalcDataCRC(sent[i], crc);
    EXPECT_EQ(crc, 0xF0B8);
}

TEST_F(SendFrameTest, MatchesAnIndependentBuilderForEveryLengthClass)
{
    std::mt19937 rng(7);
    for (uint16_t length : {1, 2, 3, 100, 255, 256, 498, 499}) {
        SCOPED_TRACE(length);
        Octets data(length);
        for (auto& o : data)
            o = static_cast<uint8_t>(rng());
        stack->SendFrame(FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY, 40, data.data(), length);
        Octets expected = Frame(mstpgen::DataExpectingReply, 40, 17, data);
        EXPECT_EQ(Sent(expected.size()), Hex(expected));
    }
}

TEST_F(SendFrameTest, DataThatCannotBeSentLeavesABareHeader)
{
    static BYTE big[MSTP_FRAME_BUFFER_SIZE];
    memset(big, 0xA5, sizeof big);
    struct Case {
        const char* name;
        const BYTE* data;
        uint16_t length;
    } cases[] = {
        {"500 octets", big, 500},
        {"510 octets", big, 510},
        {"null data with a length", nullptr, 5},
        {"data with length 0", big, 0},
    };
    const std::string bare = Hex(Frame(mstpgen::DataNotExpectingReply, 5, 17));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stack->SendFrame(FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 5, c.data, c.length);
        EXPECT_EQ(Sent(8), bare);
        EXPECT_EQ(SentNothing(), "") << "no data after the header";
    }
}

TEST_F(SendFrameTest, RefusedFramesSendNothingAndKeepTheSilenceTimer)
{
    stack->SilenceTimer = 123.5f;
    stack->SendFrame(FRAME_TYPE_TOKEN, 17, nullptr, 0); // to itself
    EXPECT_EQ(stack->SilenceTimer, 123.5f);
    stack->m_bListenOnly = 1;
    stack->SendFrame(FRAME_TYPE_TOKEN, 18, nullptr, 0);
    EXPECT_EQ(stack->SilenceTimer, 123.5f);
    EXPECT_EQ(SentNothing(), "");

    stack->m_bListenOnly = 0;
    stack->SendFrame(FRAME_TYPE_TOKEN, 18, nullptr, 0);
    EXPECT_EQ(Sent(8), Hex(Frame(mstpgen::Token, 18, 17)));
    EXPECT_EQ(stack->SilenceTimer, 0.0f);
}

TEST_F(SendFrameTest, AClosedPortSendsNothingButStillRestartsTheSilence)
{
    stack->m_SerialPort.Close();
    stack->SilenceTimer = 40.0f;
    stack->SendFrame(FRAME_TYPE_TOKEN, 18, nullptr, 0);
    EXPECT_EQ(stack->SilenceTimer, 0.0f);
    EXPECT_EQ(SentNothing(), "");
}

TEST_F(SendFrameTest, PollStationMovesOnlyForDataToAStationBeforeTheSuccessor)
{
    struct Case {
        BYTE type;
        BYTE destination;
        BYTE expectedPS;
    } cases[] = {
        {FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 20, 20},
        {FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY, 20, 20},
        {FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 18, 18},
        {FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 29, 29},
        {FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 30, 17}, // the successor itself
        {FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 40, 17}, // beyond it
        {FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 5, 17},  // below this station
        {FRAME_TYPE_TOKEN, 20, 17},
        {FRAME_TYPE_POLL_FOR_MASTER, 20, 17},
        {FRAME_TYPE_TEST_REQUEST, 20, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " to " << int(c.destination));
        stack->NS = 30;
        stack->PS = 17;
        const BYTE data[] = {0x01, 0x00};
        stack->SendFrame(c.type, c.destination, data, 2);
        EXPECT_EQ(stack->PS, c.expectedPS);
    }
}

TEST_F(SendFrameTest, VerboseSendEmptiesTheRawFrameAndLogs)
{
    const BYTE partial[] = {0x55, 0xFF, 0x00};
    memcpy(stack->m_RawFrame, partial, sizeof partial);
    stack->LastFrameBufferSize = 3;
    stack->SendFrame(FRAME_TYPE_TOKEN, 18, nullptr, 0);
    EXPECT_EQ(stack->LastFrameBufferSize, 3u) << "not verbose: the raw frame stays";

    stack->m_bVerbose = 1;
    stack->NS = 30;
    const BYTE data[] = {0x01, 0x00};
    stack->SendFrame(FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, 20, data, 2);
    EXPECT_EQ(stack->LastFrameBufferSize, 0u);
    EXPECT_EQ(stack->m_RawFrame[0], 0);
    std::string log = dir.DebugLogText();
    EXPECT_NE(log.find("MSTP.Sending message type=[06] to [14]"), std::string::npos) << log;
    EXPECT_NE(log.find("MSTP.FYI Found device (0x14) between TS (0x11) and NS (0x1e), poll for master"),
              std::string::npos)
        << log;
}

// The queue on its own: a stack that counts as connected without a worker to empty the slots.
class SendPacketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.Ok());
        stack = std::make_unique<CMstpStack>();
        stack->m_bConnected.store(1);
        stack->TS = 17;
    }
    void TearDown() override { stack->m_bConnected.store(0); }

    int UsedSlots() const
    {
        int n = 0;
        for (const MstpQueueSlot& slot : stack->m_SendQueue)
            n += slot.m_nLength != 0;
        return n;
    }

    static Octets Packet(int seed, size_t length = 6)
    {
        Octets p(length);
        for (size_t i = 0; i < length; ++i)
            p[i] = static_cast<uint8_t>(seed * 31 + i);
        return p;
    }

    bool Send(BYTE destination, const Octets& p)
    {
        return stack->SendPacket(destination, p.data(), static_cast<uint16_t>(p.size()));
    }

    mstptx::ScratchDir dir;
    std::unique_ptr<CMstpStack> stack;
};

TEST_F(SendPacketTest, RefusalsAndTheirMessages)
{
    static BYTE big[MSTP_FRAME_BUFFER_SIZE + 1];
    struct Case {
        const char* name;
        int listenOnly;
        int connected;
        const BYTE* data;
        uint16_t length;
        bool accepted;
        const char* message; // logged when verbose
    } cases[] = {
        {"listen-only", 1, 1, big, 4, false, nullptr},
        {"null data", 0, 1, nullptr, 4, false, "MSTP.Error #105 - MSTP.SendPacket nothing to send"},
        {"length 0", 0, 1, big, 0, false, "MSTP.Error #105 - MSTP.SendPacket nothing to send"},
        {"not connected", 0, 0, big, 4, false,
         "MSTP.Error #106 - MSTP.SendPacket serial comm port has not been opened"},
        {"511 octets", 0, 1, big, 511, false, "MSTP.Error #107 - MSTP.SendPacket buffer is too big"},
        {"510 octets", 0, 1, big, 510, true, nullptr},
    };
    for (int verbose : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (verbose ? " verbose" : ""));
            std::filesystem::remove(dir.Path() / "Debuglog.txt");
            stack->m_bVerbose = verbose;
            stack->m_bListenOnly = c.listenOnly;
            stack->m_bConnected.store(static_cast<BYTE>(c.connected));
            EXPECT_EQ(stack->SendPacket(9, c.data, c.length), c.accepted);
            std::string log = dir.DebugLogText();
            if (verbose && c.message)
                EXPECT_NE(log.find(c.message), std::string::npos) << log;
            else
                EXPECT_EQ(log, "");
        }
    }
    EXPECT_EQ(UsedSlots(), 1);
    EXPECT_EQ(stack->m_SendQueue[0].m_nLength, 510);
}

TEST_F(SendPacketTest, ASlotHoldsTheOctetsLengthAndDestination)
{
    Octets p = Packet(3, 9);
    ASSERT_TRUE(Send(42, p));
    const MstpQueueSlot& slot = stack->m_SendQueue[0];
    EXPECT_EQ(slot.m_nLength, 9);
    EXPECT_EQ(slot.m_byDestination, 42);
    EXPECT_EQ(Hex(Octets(slot.m_Data, slot.m_Data + 9)), Hex(p));
    EXPECT_EQ(stack->m_nQueueIndex, 0u) << "the serving position is the machine's";
}

TEST_F(SendPacketTest, APacketAlreadyWaitingIsNotQueuedAgain)
{
    Octets p = Packet(1);
    ASSERT_TRUE(Send(40, p));
    EXPECT_TRUE(Send(40, p));
    EXPECT_TRUE(Send(41, p)) << "the destination is not compared";
    EXPECT_EQ(UsedSlots(), 1);
    EXPECT_EQ(stack->m_SendQueue[0].m_byDestination, 40);

    Octets shorter(p.begin(), p.end() - 1);
    EXPECT_TRUE(Send(40, shorter));
    EXPECT_EQ(UsedSlots(), 2) << "same start, other length: another packet";
}

TEST_F(SendPacketTest, AFreeSlotBeforeTheFirstCopyTakesASecondCopy)
{
    Octets first = Packet(1), second = Packet(2);
    ASSERT_TRUE(Send(40, first));
    ASSERT_TRUE(Send(40, second));
    stack->m_SendQueue[0].m_nLength = 0; // the first one has gone out
    ASSERT_TRUE(Send(40, second));
    EXPECT_EQ(UsedSlots(), 2);
    EXPECT_EQ(stack->m_SendQueue[0].m_nLength, second.size());
    EXPECT_EQ(Hex(Octets(stack->m_SendQueue[0].m_Data, stack->m_SendQueue[0].m_Data + second.size())), Hex(second));
}

TEST_F(SendPacketTest, AFullQueueRefusesNewPacketsButNotOnesAlreadyWaiting)
{
    stack->m_bVerbose = 1;
    for (int i = 0; i < MSTP_SEND_QUEUE_SIZE; ++i)
        ASSERT_TRUE(Send(40, Packet(i))) << i;
    EXPECT_FALSE(Send(40, Packet(MSTP_SEND_QUEUE_SIZE)));
    EXPECT_NE(dir.DebugLogText().find("MSTP.Error #108 - MSTP.SendPacket is too busy, wait some time and try again"),
              std::string::npos);
    EXPECT_TRUE(Send(40, Packet(57)));
    EXPECT_EQ(UsedSlots(), MSTP_SEND_QUEUE_SIZE);
}

class WriteMstpLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.Ok());
        stack = std::make_unique<CMstpStack>();
    }
    void PutRawFrame(const Octets& octets)
    {
        memcpy(stack->m_RawFrame, octets.data(), octets.size());
        stack->LastFrameBufferSize = static_cast<uint32_t>(octets.size());
    }
    std::string LogFile() const { return mstptx::ReadText(dir.Path() / "mstp_log.txt"); }
    bool LogFileExists() const { return std::filesystem::exists(dir.Path() / "mstp_log.txt"); }

    mstptx::ScratchDir dir;
    std::unique_ptr<CMstpStack> stack;
};

TEST_F(WriteMstpLogTest, NeitherVerboseNorForcedDoesNothing)
{
    PutRawFrame({0x55, 0xFF, 0x00});
    int number = g_nMstpLogFrameNumber;
    stack->WriteMstpLog(false);
    EXPECT_FALSE(LogFileExists());
    EXPECT_EQ(stack->LastFrameBufferSize, 3u);
    EXPECT_EQ(g_nMstpLogFrameNumber, number);
}

TEST_F(WriteMstpLogTest, AnEmptyRawFrameWritesNothingAndIsNotCounted)
{
    int number = g_nMstpLogFrameNumber;
    stack->WriteMstpLog(true);
    EXPECT_FALSE(LogFileExists());
    EXPECT_EQ(g_nMstpLogFrameNumber, number);
}

TEST_F(WriteMstpLogTest, EachFrameIsOneNumberedLine)
{
    g_nMstpLogFrameNumber = 7;
    PutRawFrame(Frame(mstpgen::Token, 8, 7));
    stack->WriteMstpLog(true);
    EXPECT_EQ(stack->LastFrameBufferSize, 0u);
    EXPECT_EQ(stack->m_RawFrame[0], 0);
    PutRawFrame({0x55, 0x12});
    stack->m_bVerbose = 1;
    stack->WriteMstpLog(false);
    EXPECT_EQ(LogFile(), "Frame 007:\t55 FF 00 08 07 00 00 73 \nFrame 008:\t55 12 \n");
    EXPECT_EQ(g_nMstpLogFrameNumber, 9);

    g_nMstpLogFrameNumber = 1234;
    PutRawFrame({0xAB});
    stack->WriteMstpLog(true);
    EXPECT_NE(LogFile().find("Frame 1234:\tAB \n"), std::string::npos);
}

TEST_F(WriteMstpLogTest, QueuedInputIsLoggedWhenVerbose)
{
    stack->m_bVerbose = 1;
    stack->m_nBytesWaiting.store(5);
    stack->WriteMstpLog(false);
    EXPECT_EQ(dir.DebugLogText().find("MSTP.InBuffer"), std::string::npos);
    stack->m_nBytesWaiting.store(6);
    stack->WriteMstpLog(false);
    EXPECT_NE(dir.DebugLogText().find("MSTP.InBuffer[6]"), std::string::npos);

    std::filesystem::remove(dir.Path() / "Debuglog.txt");
    stack->m_bVerbose = 0;
    stack->WriteMstpLog(true);
    EXPECT_EQ(dir.DebugLogText(), "") << "forced, but not verbose";
}

TEST_F(WriteMstpLogTest, AFileThatCannotBeOpenedDropsTheFrame)
{
    std::filesystem::create_directory(dir.Path() / "mstp_log.txt");
    int number = g_nMstpLogFrameNumber;
    PutRawFrame({0x55, 0xFF});
    stack->WriteMstpLog(true);
    EXPECT_EQ(stack->LastFrameBufferSize, 0u);
    EXPECT_EQ(g_nMstpLogFrameNumber, number);
}

} // namespace
