// The master-node machine of a connected stack (not listen-only) on one end of a pseudo-terminal
// pair. The test plays the other stations on the other end and reads back what the stack sends.
// The worker runs its real loop, but on a hand-wound counter: it is parked between turns, the test
// grants whole turns, and each turn adds a chosen step to SilenceTimer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "mstp/mstp_stack.h"
#include "tests/mstp_tx/pty_line.h"
#include "tests/mstp_tx/stepped_clock.h"
#include "tests/mstp_tx/tx_support.h"

using mstpgen::Frame;
using mstptx::Hex;
using mstptx::Octets;
using mstptx::SteppedClock;

namespace {

constexpr BYTE kTS = 17;

struct Indication {
    Octets data;
    int source;
};

std::mutex g_indicationLock;
std::vector<Indication> g_indications;

void RecordIndication(BYTE* data, unsigned short length, BYTE source)
{
    std::lock_guard<std::mutex> lock(g_indicationLock);
    g_indications.push_back({Octets(data, data + length), source});
}

std::vector<Indication> TakeIndications()
{
    std::lock_guard<std::mutex> lock(g_indicationLock);
    std::vector<Indication> out;
    out.swap(g_indications);
    return out;
}

CMstpStack& S = g_MstpStack;

void IgnoreFrame(BYTE*, unsigned, BYTE, BYTE, int, int) {}

class MasterMachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.Ok());
        ASSERT_TRUE(line.Open());
        TakeIndications();
        SteppedClock::Install();
        ConnectStack(0);
    }

    void TearDown() override
    {
        SteppedClock::RunFree();
        S.WaitForWorker();
        SteppedClock::Uninstall();
    }

    void ConnectStack(int listenOnly, BYTE station = kTS)
    {
        S.m_cSource = SOURCE_SERIAL_PORT;
        ASSERT_EQ(S.Connect(&RecordIndication, line.Port(), 38400, station, 1, listenOnly), 1);
        ASSERT_TRUE(SteppedClock::Startup());
    }

    // Ends the worker of SetUp and connects again, here as another station.
    void Reconnect(int listenOnly, BYTE station = kTS)
    {
        SteppedClock::RunFree();
        S.WaitForWorker();
        SteppedClock::Install();
        ConnectStack(listenOnly, station);
    }

    // A two-station ring with `next`, as after this station found it by a poll.
    void JoinRingWith(BYTE next)
    {
        S.NS = next;
        S.PS = kTS;
        S.TokenCount = 0;
    }

    void Turns(int n, double msPerTurn = 0.0) { ASSERT_TRUE(SteppedClock::Turns(n, msPerTurn)); }

    // One octet per turn: after this the last octet has been taken in and the machine has run on it.
    void Feed(const Octets& octets)
    {
        ASSERT_TRUE(line.Write(octets));
        ASSERT_TRUE(line.WaitQueuedAtStack(static_cast<int>(octets.size())));
        Turns(static_cast<int>(octets.size()));
    }

    void ExpectSent(const Octets& frame) { EXPECT_EQ(Hex(line.Read(frame.size(), 3000)), Hex(frame)); }
    void ExpectNothingSent() { EXPECT_EQ(Hex(line.ReadAll(30)), ""); }
    void ExpectState(int state) { EXPECT_EQ(S.m_nMasterState, state); }
    bool Logged(const std::string& text) const { return dir.DebugLogText().find(text) != std::string::npos; }

    mstptx::ScratchDir dir;
    mstptx::PtyLine line;
};

// Every test below counts on the hand-wound clock matching the worker's turn: one granted turn is one
// whole turn of the loop and adds exactly its step to the silence.
TEST_F(MasterMachineTest, EachGrantedTurnAddsExactlyItsStep)
{
    EXPECT_FLOAT_EQ(S.SilenceTimer, 0.0f);
    Turns(1, 10);
    EXPECT_FLOAT_EQ(S.SilenceTimer, 10.0f) << "the clock's reads per turn no longer match the worker loop";
    Turns(3, 2.5);
    EXPECT_FLOAT_EQ(S.SilenceTimer, 17.5f);
    Turns(2);
    EXPECT_FLOAT_EQ(S.SilenceTimer, 17.5f);
}

TEST_F(MasterMachineTest, SilentLineLosesTheTokenAndGeneratesItInItsOwnSlot)
{
    // Ten milliseconds per turn: the machine sees 0, 10, 20, ... ms of silence.
    Turns(50, 10);
    ExpectState(MASTER_STATE_IDLE);
    Turns(1, 10); // 500 ms
    ExpectState(MASTER_STATE_NO_TOKEN);
    EXPECT_TRUE(Logged("MSTP.Error #101 - LostToken - assume that the token has been lost SilenceTimer=[500.000000.03]"));
    Turns(16, 10); // 510 to 660 ms: not yet this station's slot
    ExpectNothingSent();
    ExpectState(MASTER_STATE_NO_TOKEN);
    Turns(1, 10); // 670 ms = Tno_token + Tslot * 17
    ExpectSent(Frame(mstpgen::PollForMaster, 18, kTS));
    ExpectState(MASTER_STATE_POLL_FOR_MASTER);
    EXPECT_EQ(S.NS, kTS);
    EXPECT_EQ(S.PS, 18);
    EXPECT_EQ(S.TokenCount, 0u);
    EXPECT_TRUE(Logged("MSTP.FYI #112 - GenerateToken - assume that this node is the lowest numerical address on "
                       "the network and is empowered to create a token."));
}

TEST_F(MasterMachineTest, TheTokenIsGeneratedOnlyInsideTheSlot)
{
    struct Case {
        float silence;
        uint32_t eventCount;
        int state;
        bool polls;
    } cases[] = {
        {669.9f, 0, MASTER_STATE_NO_TOKEN, false},
        {670.0f, 0, MASTER_STATE_POLL_FOR_MASTER, true},
        {679.9f, 0, MASTER_STATE_POLL_FOR_MASTER, true},
        {680.0f, 0, MASTER_STATE_NO_TOKEN, false},
        {5000.0f, 0, MASTER_STATE_NO_TOKEN, false},
        {600.0f, 1, MASTER_STATE_NO_TOKEN, false}, // one octet is not traffic (Nmin_octets)
        {600.0f, 2, MASTER_STATE_IDLE, false},     // SawFrame: a lower station is alive
        {670.0f, 2, MASTER_STATE_POLL_FOR_MASTER, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.silence << " ms, EventCount " << c.eventCount);
        S.m_nMasterState = MASTER_STATE_NO_TOKEN;
        S.NS = S.PS = kTS;
        S.SilenceTimer = c.silence;
        S.EventCount = c.eventCount;
        Turns(1);
        ExpectState(c.state);
        if (c.polls)
            ExpectSent(Frame(mstpgen::PollForMaster, 18, kTS));
        else
            ExpectNothingSent();
    }
}

TEST_F(MasterMachineTest, EarlierTrafficMakesItAlternateUntilItsSlot)
{
    S.SilenceTimer = 500;
    S.EventCount = 5;
    std::vector<int> states;
    for (int i = 0; i < 4; ++i) {
        Turns(1, 10);
        states.push_back(S.m_nMasterState);
    }
    EXPECT_EQ(states, (std::vector<int>{MASTER_STATE_NO_TOKEN, MASTER_STATE_IDLE, MASTER_STATE_NO_TOKEN,
                                        MASTER_STATE_IDLE}));
    Turns(13, 10); // up to 660 ms
    ExpectNothingSent();
    Turns(1, 10); // 670 ms
    ExpectSent(Frame(mstpgen::PollForMaster, 18, kTS));
}

TEST_F(MasterMachineTest, FramesReceivedInIdle)
{
    const Octets data = {0x01, 0x00, 0x10, 0x08};
    const Octets none;
    const Octets replyToPoll = Frame(mstpgen::ReplyToPollForMaster, 5, kTS);
    const Octets postponed = Frame(mstpgen::ReplyPostponed, 5, kTS);
    struct Case {
        const char* name;
        Octets frame;
        int state;           // after the turn that took the frame's last octet
        BOOL validFlagAfter; // ReceivedValidFrame after that turn
        bool indicated;      // data handed to the data-indication callback
        Octets sentNow;      // what that same turn sends
        Octets sentThen;     // what the next turn sends
        const char* logged;  // a line the transition writes
    } cases[] = {
        {"poll for master", Frame(mstpgen::PollForMaster, kTS, 5), MASTER_STATE_IDLE, 0, false, replyToPoll, none,
         "MSTP.ReceivedPFM"},
        {"token", Frame(mstpgen::Token, kTS, 5), MASTER_STATE_USE_TOKEN, 0, false, none, none,
         "MSTP.ReceivedToken <== 05"},
        {"broadcast token", Frame(mstpgen::Token, 255, 5), MASTER_STATE_IDLE, 0, false, none, none,
         "MSTP.Error. ReceivedUnwantedFrame - an unexpected or unwanted frame was received"},
        {"broadcast data expecting reply", Frame(mstpgen::DataExpectingReply, 255, 5, data), MASTER_STATE_IDLE, 0,
         false, none, none, "   DestinationAddress=[FF]"},
        {"broadcast test request", Frame(mstpgen::TestRequest, 255, 5), MASTER_STATE_IDLE, 0, false, none, none,
         "   TS                =[11]"},
        {"broadcast data not expecting reply", Frame(mstpgen::DataNotExpectingReply, 255, 5, data),
         MASTER_STATE_IDLE, 0, true, none, none,
         "MSTP.ReceivedDataNoReply - indicate successful reception to the higher layers"},
        {"data not expecting reply", Frame(mstpgen::DataNotExpectingReply, kTS, 5, data), MASTER_STATE_IDLE, 0, true,
         none, none, nullptr},
        {"test response", Frame(mstpgen::TestResponse, kTS, 5), MASTER_STATE_IDLE, 0, true, none, none, nullptr},
        // Nothing above the data link prepares a reply: the requester hears at once that it is postponed.
        {"data expecting reply", Frame(mstpgen::DataExpectingReply, kTS, 5, data), MASTER_STATE_ANSWER_DATA_REQUEST,
         0, false, none, postponed, "MSTP.ReceivedDataNeedingReply"},
        {"test request", Frame(mstpgen::TestRequest, kTS, 5), MASTER_STATE_ANSWER_DATA_REQUEST, 0, false, none,
         postponed, "MSTP.ReceivedDataNeedingReply"},
        // No row takes these: they are consumed in the step they ended in, the state unchanged.
        {"reply postponed", Frame(mstpgen::ReplyPostponed, kTS, 5), MASTER_STATE_IDLE, 0, false, none, none, nullptr},
        {"reply to poll for master", Frame(mstpgen::ReplyToPollForMaster, kTS, 5), MASTER_STATE_IDLE, 0, false, none,
         none, nullptr},
        {"broadcast poll for master", Frame(mstpgen::PollForMaster, 255, 5), MASTER_STATE_IDLE, 0, false, none, none,
         nullptr},
        {"reserved type", Frame(0x20, kTS, 5), MASTER_STATE_IDLE, 0, false, none, none, nullptr},
        {"token between other stations", Frame(mstpgen::Token, 30, 5), MASTER_STATE_IDLE, 0, false, none, none,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        S.m_nMasterState = MASTER_STATE_IDLE;
        S.ReceivedValidFrame = 0;
        S.SilenceTimer = 0;
        std::filesystem::remove(dir.Path() / "Debuglog.txt");
        Feed(c.frame);
        ExpectState(c.state);
        EXPECT_EQ(S.ReceivedValidFrame, c.validFlagAfter);
        if (c.sentNow.empty())
            ExpectNothingSent();
        else
            ExpectSent(c.sentNow);
        std::vector<Indication> got = TakeIndications();
        if (c.indicated) {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].source, 5);
            EXPECT_EQ(Hex(got[0].data), c.frame.size() > 8 ? Hex(data) : "");
        } else {
            EXPECT_TRUE(got.empty());
        }
        if (c.logged) {
            EXPECT_TRUE(Logged(c.logged)) << dir.DebugLogText();
        }
        if (c.state == MASTER_STATE_USE_TOKEN) {
            EXPECT_EQ(S.FrameCount, 0u);
            EXPECT_EQ(S.SoleMaster, 0);
            continue; // the token use is another test's
        }
        Turns(1);
        if (c.sentThen.empty()) {
            ExpectNothingSent();
        } else {
            ExpectSent(c.sentThen);
            ExpectState(MASTER_STATE_IDLE);
            EXPECT_TRUE(Logged("MSTP.ToDo:"));
        }
    }
}

TEST_F(MasterMachineTest, TokenReceivedIsPassedOnAndSeenInUse)
{
    JoinRingWith(30);
    Feed(Frame(mstpgen::Token, kTS, 5));
    ExpectState(MASTER_STATE_USE_TOKEN);
    Turns(1);
    ExpectState(MASTER_STATE_DONE_WITH_TOKEN);
    EXPECT_EQ(S.FrameCount, 1u) << "nothing to send uses up the frames";
    Turns(1);
    ExpectSent(Frame(mstpgen::Token, 30, kTS));
    ExpectState(MASTER_STATE_PASS_TOKEN);
    EXPECT_EQ(S.TokenCount, 1u);
    EXPECT_TRUE(Logged("MSTP.SendToken ==> 1E"));

    // The successor starts to talk within Tusage_timeout: two octets are enough.
    Feed({0x55, 0xFF});
    ExpectState(MASTER_STATE_IDLE);
    EXPECT_TRUE(Logged("MSTP.SawTokenUser"));
    const Octets rest = Frame(mstpgen::Token, 5, 30);
    Feed(Octets(rest.begin() + 2, rest.end()));
    ExpectState(MASTER_STATE_IDLE);
    EXPECT_EQ(S.ReceivedValidFrame, 0);
    ExpectNothingSent();
}

// A frame for this station that no row takes, then a frame between two other stations. The
// second header overwrites the first frame's fields one octet at a time, so whatever is left of
// the first frame must be gone before it starts: a token or data would otherwise be taken as
// meant for this station.
TEST_F(MasterMachineTest, AFrameNoRowTakesIsNotJudgedAgainstTheNextHeader)
{
    constexpr BYTE kStation = 10;
    Reconnect(0, kStation);
    const Octets data = {0x01, 0x00, 0x10, 0x08};
    struct Case {
        const char* name;
        Octets first;
        Octets second;
    } cases[] = {
        {"late reply to a poll, then a token for 20", Frame(mstpgen::ReplyToPollForMaster, kStation, 3),
         Frame(mstpgen::Token, 20, 3)},
        {"reply postponed, then data for 20", Frame(mstpgen::ReplyPostponed, kStation, 3),
         Frame(mstpgen::DataNotExpectingReply, 20, 3, data)},
        {"reply postponed, then a test response for 20", Frame(mstpgen::ReplyPostponed, kStation, 3),
         Frame(mstpgen::TestResponse, 20, 3)},
        {"broadcast poll, then a token for 20", Frame(mstpgen::PollForMaster, 255, 3),
         Frame(mstpgen::Token, 20, 3)},
        {"late reply to a poll, then a poll of 20", Frame(mstpgen::ReplyToPollForMaster, kStation, 3),
         Frame(mstpgen::PollForMaster, 20, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        S.m_nMasterState = MASTER_STATE_IDLE;
        std::filesystem::remove(dir.Path() / "Debuglog.txt");
        Feed(c.first);
        EXPECT_EQ(S.ReceivedValidFrame, 0) << "consumed in the step it ended in";
        Feed(c.second);
        Turns(5); // a station that took the token would have polled by now
        ExpectState(MASTER_STATE_IDLE);
        ExpectNothingSent();
        EXPECT_TRUE(TakeIndications().empty());
        EXPECT_FALSE(Logged("MSTP.ReceivedToken")) << dir.DebugLogText();
        EXPECT_FALSE(Logged("MSTP.ReceivedPFM")) << dir.DebugLogText();
    }

    // Frames that are meant for this station are still taken right after such a frame.
    Feed(Frame(mstpgen::ReplyPostponed, kStation, 3));
    Feed(Frame(mstpgen::DataNotExpectingReply, kStation, 3, data));
    std::vector<Indication> got = TakeIndications();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].source, 3);
    EXPECT_EQ(Hex(got[0].data), Hex(data));
    Feed(Frame(mstpgen::ReplyToPollForMaster, kStation, 3));
    Feed(Frame(mstpgen::Token, kStation, 3));
    ExpectState(MASTER_STATE_USE_TOKEN);
    EXPECT_TRUE(Logged("MSTP.ReceivedToken <== 03"));
}

class MaintenancePollTest : public MasterMachineTest {
protected:
    // One token use on a ring with `next`: the token comes from `next`, the stack answers with one
    // frame and, when that was a poll nobody answers, with the token after Tusage_timeout.
    // Returns the address polled, or -1 when the token went straight on.
    int TokenUse(BYTE next)
    {
        Feed(Frame(mstpgen::Token, kTS, next));
        Turns(2); // USE_TOKEN, then DONE_WITH_TOKEN sends
        Octets frame = line.Read(8, 3000);
        if (frame.size() != 8) {
            ADD_FAILURE() << "nothing sent";
            return -2;
        }
        if (frame[2] == mstpgen::Token) {
            EXPECT_EQ(Hex(frame), Hex(Frame(mstpgen::Token, next, kTS)));
            return -1;
        }
        EXPECT_EQ(frame[2], mstpgen::PollForMaster);
        Turns(10, 10); // 0 to 90 ms: still waiting for an answer
        ExpectState(MASTER_STATE_POLL_FOR_MASTER);
        Turns(1, 10); // 100 ms: DoneWithPFM
        ExpectSent(Frame(mstpgen::Token, next, kTS));
        ExpectState(MASTER_STATE_PASS_TOKEN);
        return frame[3];
    }
};

TEST_F(MaintenancePollTest, AfterNpollTokensTheGapToTheSuccessorIsPolled)
{
    JoinRingWith(20);
    std::map<int, int> polledAtUse; // token use -> address polled
    for (int use = 1; use <= 103; ++use) {
        SCOPED_TRACE(use);
        int polled = TokenUse(20);
        if (polled == -2)
            return;
        if (polled >= 0)
            polledAtUse[use] = polled;
        if (use == 52) {
            EXPECT_EQ(S.TokenCount, 1u);
            EXPECT_EQ(S.PS, kTS);
            EXPECT_TRUE(Logged("MSTP.ResetMaintenancePFM"));
        }
    }
    // 49 plain passes, then one address per token use until the successor, then 48 passes.
    EXPECT_EQ(polledAtUse, (std::map<int, int>{{50, 18}, {51, 19}, {101, 18}, {102, 19}}));
}

TEST_F(MaintenancePollTest, TheFirstTokenUseAfterConnectPollsAndANewMasterAnswers)
{
    // Connect leaves TokenCount at Npoll, so the first use polls: here 18 answers.
    S.NS = 30;
    Feed(Frame(mstpgen::Token, kTS, 30));
    Turns(2);
    ExpectSent(Frame(mstpgen::PollForMaster, 18, kTS));
    Feed(Frame(mstpgen::ReplyToPollForMaster, kTS, 18));
    ExpectSent(Frame(mstpgen::Token, 18, kTS));
    ExpectState(MASTER_STATE_PASS_TOKEN);
    EXPECT_EQ(S.NS, 18);
    EXPECT_EQ(S.PS, kTS);
    EXPECT_EQ(S.TokenCount, 0u);
    EXPECT_TRUE(Logged("MSTP.ReceivedReplyToPFM"));
}

TEST_F(MaintenancePollTest, PollingWrapsAtNmaxMasterAndSkipsThisStation)
{
    // The ring is 17 -> 3: the gap is 18 to 127, then 0 to 2.
    struct Case {
        BYTE ps;
        int polled;
    } cases[] = {{16, 18}, {126, 127}, {127, 0}, {1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.ps));
        S.m_nMasterState = MASTER_STATE_IDLE;
        S.NS = 3;
        S.PS = c.ps;
        S.TokenCount = S.Npoll - 1;
        EXPECT_EQ(TokenUse(3), c.polled);
    }
}

TEST_F(MasterMachineTest, AFailedSuccessorGetsOneRetryThenANewOneIsFound)
{
    JoinRingWith(20);
    Feed(Frame(mstpgen::Token, kTS, 5));
    Turns(2);
    ExpectSent(Frame(mstpgen::Token, 20, kTS));
    Turns(10, 10); // 0 to 90 ms: 20 may still start
    ExpectNothingSent();
    Turns(1, 10); // 100 ms
    ExpectSent(Frame(mstpgen::Token, 20, kTS));
    EXPECT_EQ(S.RetryCount, 1u);
    EXPECT_TRUE(Logged("MSTP.FYI #109 - RetrySendToken => 14 SilenceTimer=100.000000"));
    Turns(9, 10); // the retry restarted the silence: 10 to 90 ms
    ExpectNothingSent();
    Turns(1, 10);
    ExpectSent(Frame(mstpgen::PollForMaster, 21, kTS));
    ExpectState(MASTER_STATE_POLL_FOR_MASTER);
    EXPECT_EQ(S.NS, kTS);
    EXPECT_EQ(S.TokenCount, 0u);
    EXPECT_TRUE(Logged("MSTP.FYI #110 - FindNewSuccessor - assume that NS has failed."));

    Feed(Frame(mstpgen::ReplyToPollForMaster, kTS, 21));
    ExpectSent(Frame(mstpgen::Token, 21, kTS));
    EXPECT_EQ(S.NS, 21);
    EXPECT_EQ(S.PS, kTS);
}

TEST_F(MasterMachineTest, NobodyAnsweringMakesItSoleMasterThatStillSendsAndPolls)
{
    S.SilenceTimer = 670;
    S.m_nMasterState = MASTER_STATE_NO_TOKEN;
    Turns(1, 10);
    ExpectSent(Frame(mstpgen::PollForMaster, 18, kTS));
    std::vector<int> expected, polled;
    for (int a = 19; a != kTS; a = (a + 1) % 128)
        expected.push_back(a);
    for (size_t i = 0; i < expected.size(); ++i) {
        Turns(10, 10); // SendNextPFM at exactly Tusage_timeout
        Octets f = line.Read(8, 3000);
        if (f.size() != 8 || f[2] != mstpgen::PollForMaster)
            break;
        polled.push_back(f[3]);
    }
    ASSERT_EQ(polled, expected);

    Turns(10, 10); // at exactly 100 ms the last poll is not yet given up
    ExpectState(MASTER_STATE_POLL_FOR_MASTER);
    Turns(1, 10);
    ExpectState(MASTER_STATE_USE_TOKEN);
    EXPECT_EQ(S.SoleMaster, 1);
    EXPECT_TRUE(Logged("MSTP.FYI #113 - DeclareSoleMaster"));

    // A sole master keeps the token and sends what is queued...
    const Octets packet = {0x01, 0x00, 0x42};
    ASSERT_TRUE(S.SendPacket(40, packet.data(), 3));
    Turns(1);
    ExpectSent(Frame(mstpgen::DataNotExpectingReply, 40, kTS, packet));
    // ...and after Npoll - 1 token uses of its own polls the address after it again.
    Turns(98);
    ExpectNothingSent();
    ExpectState(MASTER_STATE_DONE_WITH_TOKEN);
    EXPECT_EQ(S.TokenCount, 49u);
    Turns(1);
    ExpectSent(Frame(mstpgen::PollForMaster, 18, kTS));
    EXPECT_EQ(S.TokenCount, 1u);

    // A new master answers: the ring has two members from now on.
    Feed(Frame(mstpgen::ReplyToPollForMaster, kTS, 18));
    ExpectSent(Frame(mstpgen::Token, 18, kTS));
    EXPECT_EQ(S.SoleMaster, 0);
    EXPECT_EQ(S.NS, 18);
}

TEST_F(MasterMachineTest, AStrayOctetDuringAPollSendsItBackToIdle)
{
    struct Case {
        Octets octets;
        int state;
    } cases[] = {
        {{0x12}, MASTER_STATE_IDLE},                  // dropped outside any frame
        {{0x55}, MASTER_STATE_POLL_FOR_MASTER},       // the start of a frame is taken in
        {{0x55, 0xFF, 0x02}, MASTER_STATE_POLL_FOR_MASTER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.octets));
        S.m_nMasterState = MASTER_STATE_POLL_FOR_MASTER;
        S.m_nReceiveState = RECEIVE_STATE_IDLE;
        S.NS = kTS;
        S.PS = 18;
        S.SilenceTimer = 50;
        Feed(c.octets);
        ExpectState(c.state);
        ExpectNothingSent();
    }
}

class DataRequestTest : public MasterMachineTest {
protected:
    // This station holds the token and sends a request expecting a reply to station 40.
    void SendRequest()
    {
        JoinRingWith(30);
        ASSERT_TRUE(S.SendPacket(40, request.data(), static_cast<uint16_t>(request.size())));
        Feed(Frame(mstpgen::Token, kTS, 30));
        Turns(1);
        ExpectSent(Frame(mstpgen::DataExpectingReply, 40, kTS, request));
        ExpectState(MASTER_STATE_WAIT_FOR_REPLY);
        EXPECT_TRUE(Logged("MSTP.SendCustom"));
    }

    const Octets request = {0x01, 0x04, 0x00, 0x05, 0x01, 0x0C};
    const Octets reply = {0x01, 0x00, 0x30, 0x01, 0x0C};
};

TEST_F(DataRequestTest, WaysTheWaitEnds)
{
    // A damaged frame hidden in another one ends during replay, where the machine sees it. Only a
    // stack with a frame monitor looks into damaged frames.
    Octets hidden = Frame(mstpgen::DataNotExpectingReply, kTS, 40);
    hidden[7] ^= 0x01;
    Octets carrier = Frame(mstpgen::DataNotExpectingReply, kTS, 40, hidden);
    carrier.back() ^= 0x01;

    struct Case {
        const char* name;
        Octets frame;        // what comes back on the line
        int extraTurns;      // replayed octets, or turns of 10 ms silence
        int state;
        bool indicated;
        const char* logged;
    } cases[] = {
        {"reply", Frame(mstpgen::DataNotExpectingReply, kTS, 40, reply), 0, MASTER_STATE_DONE_WITH_TOKEN, true,
         "MSTP.ReceivedReply - indicate successful reception to the higher layers"},
        {"test response", Frame(mstpgen::TestResponse, kTS, 40), 0, MASTER_STATE_DONE_WITH_TOKEN, true, nullptr},
        {"postponed", Frame(mstpgen::ReplyPostponed, kTS, 40), 0, MASTER_STATE_DONE_WITH_TOKEN, false,
         "MSTP.ReceivedPostpone"},
        {"unexpected frame", Frame(mstpgen::Token, kTS, 40), 0, MASTER_STATE_IDLE, false,
         "MSTP.Error #103 - ReceivedUnexpectedFrame - FrameType=[0x00] MSTP.Source=[0x28] MSTP.Dest=[0x11] "
         "STimer=[0.00]"},
        {"broadcast", Frame(mstpgen::DataNotExpectingReply, 255, 40, reply), 0, MASTER_STATE_IDLE, false, nullptr},
        {"damaged reply", carrier, 8, MASTER_STATE_DONE_WITH_TOKEN, false,
         "MSTP.Error #102 - InvalidFrame - there was an error in frame reception"},
        {"no reply", {}, 32, MASTER_STATE_DONE_WITH_TOKEN, false,
         "MSTP.FYI #107 - ReplyTimeout - assume that the request has failed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        S.m_nMasterState = MASTER_STATE_IDLE;
        std::filesystem::remove(dir.Path() / "Debuglog.txt");
        SendRequest();
        S.SetFrameCallback(c.extraTurns && !c.frame.empty() ? &IgnoreFrame : nullptr);
        if (!c.frame.empty()) {
            Feed(c.frame);
            Turns(c.extraTurns);
        } else {
            Turns(31, 10); // 0 to 300 ms: the time-out is strict
            ExpectState(MASTER_STATE_WAIT_FOR_REPLY);
            Turns(1, 10);
        }
        ExpectState(c.state);
        std::vector<Indication> got = TakeIndications();
        EXPECT_EQ(got.size(), c.indicated ? 1u : 0u);
        if (c.indicated && !got.empty()) {
            EXPECT_EQ(got[0].source, 40);
            EXPECT_EQ(Hex(got[0].data), c.frame.size() > 8 ? Hex(reply) : "");
        }
        if (c.logged) {
            EXPECT_TRUE(Logged(c.logged)) << dir.DebugLogText();
        }
        if (c.state == MASTER_STATE_DONE_WITH_TOKEN) {
            Turns(1);
            ExpectSent(Frame(mstpgen::Token, 30, kTS));
        }
        Turns(2); // what is left of a replay
        line.ReadAll(30);
    }
}

TEST_F(DataRequestTest, AnotherStationsFrameDoesNotEndTheWait)
{
    SendRequest();
    Feed(Frame(mstpgen::DataNotExpectingReply, 5, 40, reply));
    Turns(1);
    ExpectState(MASTER_STATE_WAIT_FOR_REPLY);
}

TEST_F(MasterMachineTest, QueuedPacketsLeaveInRingOrderOnePerTokenUse)
{
    JoinRingWith(30);
    auto packet = [](BYTE tag) { return Octets{0x01, 0x00, tag}; };
    auto useToken = [&]() -> int {
        Feed(Frame(mstpgen::Token, kTS, 30));
        Turns(1);
        Octets f = line.Read(13, 3000);
        Turns(1);
        ExpectSent(Frame(mstpgen::Token, 30, kTS)); // one packet per token use
        if (f.size() != 13 || f[2] != mstpgen::DataNotExpectingReply)
            return -1;
        return f[10];
    };

    for (BYTE tag : {0xA0, 0xA1})
        ASSERT_TRUE(S.SendPacket(40, packet(tag).data(), 3));
    EXPECT_EQ(useToken(), 0xA0);
    EXPECT_EQ(useToken(), 0xA1);
    EXPECT_EQ(S.m_nQueueIndex, 1u) << "an empty queue leaves the position a full round further on";

    // Slots 0, 1, 2 now; serving goes on from slot 1.
    for (BYTE tag : {0xB0, 0xB1, 0xB2})
        ASSERT_TRUE(S.SendPacket(40, packet(tag).data(), 3));
    EXPECT_EQ(useToken(), 0xB1);
    ASSERT_TRUE(S.SendPacket(40, packet(0xB3).data(), 3)); // into the freed slot 1
    EXPECT_EQ(useToken(), 0xB2);
    EXPECT_EQ(useToken(), 0xB0);
    EXPECT_EQ(useToken(), 0xB3);
}

TEST_F(MasterMachineTest, TheControlOctetDecidesWhetherAPacketExpectsAReply)
{
    struct Case {
        Octets packet;
        BYTE type;
        int state;
    } cases[] = {
        {{0x01, 0x04}, mstpgen::DataExpectingReply, MASTER_STATE_WAIT_FOR_REPLY},
        {{0x01, 0x2C, 0x00}, mstpgen::DataExpectingReply, MASTER_STATE_WAIT_FOR_REPLY},
        {{0x01, 0x00}, mstpgen::DataNotExpectingReply, MASTER_STATE_DONE_WITH_TOKEN},
        {{0x01, 0xFB, 0x7F}, mstpgen::DataNotExpectingReply, MASTER_STATE_DONE_WITH_TOKEN},
        {{0x04}, mstpgen::DataNotExpectingReply, MASTER_STATE_DONE_WITH_TOKEN}, // one octet never expects one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.packet));
        S.m_nMasterState = MASTER_STATE_USE_TOKEN;
        S.NS = 30;
        ASSERT_TRUE(S.SendPacket(50, c.packet.data(), static_cast<uint16_t>(c.packet.size())));
        Turns(1);
        ExpectSent(Frame(c.type, 50, kTS, c.packet));
        ExpectState(c.state);
        EXPECT_EQ(S.FrameCount, 1u);
        EXPECT_EQ(S.NextFrame, 255);
        S.FrameCount = 0;
    }
}

TEST_F(MasterMachineTest, FramesChosenWithoutTheQueue)
{
    struct Case {
        BYTE nextFrame;
        int state;
        bool sends;
        const char* logged;
    } cases[] = {
        {FRAME_TYPE_TEST_RESPONSE, MASTER_STATE_DONE_WITH_TOKEN, true, "MSTP.SendNoWait"},
        {FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY, MASTER_STATE_DONE_WITH_TOKEN, true, "MSTP.SendNoWait"},
        {FRAME_TYPE_TEST_REQUEST, MASTER_STATE_WAIT_FOR_REPLY, true, "MSTP.SendAndWait"},
        {FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY, MASTER_STATE_WAIT_FOR_REPLY, true, "MSTP.SendAndWait"},
        {FRAME_TYPE_TOKEN, MASTER_STATE_DONE_WITH_TOKEN, false, "MSTP.Error. Invalid NextFrame=[00]"},
        {0x80, MASTER_STATE_DONE_WITH_TOKEN, false, "MSTP.Error. Invalid NextFrame=[80]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.nextFrame));
        S.m_nMasterState = MASTER_STATE_USE_TOKEN;
        S.NextFrame = c.nextFrame;
        S.SourceAddress = 9;
        S.FrameCount = 0;
        Turns(1);
        ExpectState(c.state);
        if (c.sends)
            ExpectSent(Frame(c.nextFrame, 9, kTS));
        else
            ExpectNothingSent();
        EXPECT_EQ(S.FrameCount, 1u);
        EXPECT_EQ(S.NextFrame, 255);
        EXPECT_TRUE(Logged(c.logged));
    }
}

TEST_F(MasterMachineTest, ListenOnlyNeverRunsTheMachine)
{
    Reconnect(1);
    Turns(100, 10); // a silent second
    Feed(Frame(mstpgen::PollForMaster, kTS, 5));
    Feed(Frame(mstpgen::Token, kTS, 5));
    ExpectNothingSent();
    ExpectState(MASTER_STATE_IDLE);
    const Octets packet = {0x01, 0x00};
    EXPECT_FALSE(S.SendPacket(40, packet.data(), 2));
}

TEST_F(MasterMachineTest, PacketsHandedInFromOtherThreadsEachLeaveOnceIntact)
{
    // A sole master serves one packet per token use while four threads keep the queue full.
    S.SoleMaster = 1;
    S.NS = kTS;
    S.TokenCount = 0;
    S.m_nMasterState = MASTER_STATE_USE_TOKEN;
    S.m_bVerbose = 0; // a sole master logs every turn
    SteppedClock::RunFree(1.0);

    constexpr int kThreads = 4, kPerThread = 150;
    std::set<std::pair<int, Octets>> queued;
    std::mutex queuedLock;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                Octets p = {0x01, 0x00, static_cast<uint8_t>(t), static_cast<uint8_t>(i)};
                p.resize(4 + (i * 7 + t) % 40, static_cast<uint8_t>(i ^ 0x5A));
                BYTE destination = static_cast<BYTE>(40 + t);
                {
                    std::lock_guard<std::mutex> lock(queuedLock);
                    queued.insert({destination, p});
                }
                // A full queue empties one packet per token use: wait for room without spinning
                // on the queue's lock, which the worker needs to send.
                while (!S.SendPacket(destination, p.data(), static_cast<uint16_t>(p.size()))) {
                    if (!S.m_bConnected.load())
                        return; // the test gave up
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        });
    }

    // Split the line into frames; every one must be whole and from this station.
    std::multiset<std::pair<int, Octets>> sent;
    Octets stream;
    size_t pos = 0;
    bool intact = true;
    // Runs until every packet is back; the bound only ends a broken run.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    while (intact && sent.size() < static_cast<size_t>(kThreads * kPerThread) &&
           std::chrono::steady_clock::now() < deadline) {
        Octets more = line.ReadAvailable(50);
        stream.insert(stream.end(), more.begin(), more.end());
        while (intact && stream.size() - pos >= 8) {
            size_t length = (stream[pos + 5] << 8) | stream[pos + 6];
            size_t total = 8 + (length ? length + 2 : 0);
            if (stream.size() - pos < total)
                break;
            Octets f(stream.begin() + pos, stream.begin() + pos + total);
            Octets data(f.begin() + 8, f.begin() + 8 + length);
            intact = Hex(f) == Hex(Frame(f[2], f[3], kTS, data)) &&
                     (f[2] == mstpgen::DataNotExpectingReply || f[2] == mstpgen::PollForMaster);
            EXPECT_TRUE(intact) << Hex(f);
            if (f[2] == mstpgen::DataNotExpectingReply)
                sent.insert({f[3], data});
            pos += total;
        }
    }
    if (!intact || sent.size() < static_cast<size_t>(kThreads * kPerThread))
        S.m_bConnected.store(0); // lets the producers give up, so they can be joined
    for (std::thread& p : producers)
        p.join();
    EXPECT_EQ(sent.size(), queued.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), queued.begin(), queued.end())) << "each packet once, intact";
}

} // namespace
