#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "reports/statistics_update.h"
#include "reports_fixture.h"

using namespace reports_test;

namespace {

enum : BYTE { TOKEN, PFM, RPFM, TEST_REQ, TEST_RESP, DER, DNER, POSTPONED };

struct F {
    BYTE type, s, d;
    int errorKind = 0;
};

class StatisticsUpdateTest : public ReportsTest {
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        Restart();
    }

    // A fresh capture: new tables, and the first frame still to come.
    void Restart()
    {
        BeginCapture(2009, 3, 5, 14, 0, 0);
        g_bResetTokenState = 1; // what the frame monitor sets on the first frame
    }

    // Counts one frame at the given time within the hour (minutes, seconds, milliseconds).
    void Count(const F& f, int msWithinHour = 0)
    {
        CNetworkStatistics& st = g_NetworkStatistics;
        st.m_nMinute = msWithinHour / 60000;
        st.m_nSecond = msWithinHour / 1000 % 60;
        st.m_nMillisecond = msWithinHour % 1000;
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, " [05-03-2009 14:%02d:%02d:%03d]", st.m_nMinute, st.m_nSecond,
                      st.m_nMillisecond);
        std::snprintf(g_FrameText.m_szStamp, sizeof g_FrameText.m_szStamp, "%.28s", stamp);
        UpdateStatistics(f.s, f.d, f.type, g_FrameText.m_szStamp, f.errorKind);
    }

    // One frame every 10 ms from 10 ms on.
    void CountAll(const std::vector<F>& frames)
    {
        int t = 0;
        for (const F& f : frames)
            Count(f, t += 10);
    }

    // Tokens 1 -> 2 and 2 -> 1 around a ring: station 1 passes every `period` ms and holds `hold`.
    void Ring(int tokens, int startMs, int period, int hold)
    {
        for (int i = 0; i < tokens; ++i) {
            int t = startMs + i * period;
            Count({TOKEN, 1, 2}, t);
            Count({TOKEN, 2, 1}, t + period - hold);
        }
    }

    DeviceRecord& Dev(int mac) { return g_pDevices[mac]; }
    TokenTiming& Timing(int mac) { return g_NetworkStatistics.m_TokenTiming[mac]; }
};

struct OutOfTurnCase {
    const char* what;
    std::vector<F> frames;
    std::vector<std::pair<int, int>> counts; // station, out-of-turn frames
};

TEST_F(StatisticsUpdateTest, OutOfTurnRules)
{
    const OutOfTurnCase cases[] = {
        {"the first frame is never out of turn", {{PFM, 5, 6}}, {{5, 0}}},
        {"a type above 7 leaves the first-frame state", {{9, 5, 6}, {200, 5, 6}, {PFM, 5, 6}}, {{5, 0}}},
        {"before any Token the holder is 0: Poll For Master", {{PFM, 0, 1}, {PFM, 2, 3}}, {{0, 0}, {2, 1}}},
        {"before any Token: Reply To Poll For Master", {{PFM, 0, 1}, {RPFM, 1, 0}}, {{1, 1}}},
        {"before any Token: Test_Request", {{PFM, 0, 1}, {TEST_REQ, 4, 9}}, {{4, 1}}},
        {"before any Token: a Token from another station", {{PFM, 0, 1}, {TOKEN, 3, 4}}, {{3, 1}}},
        {"station 0 is taken for the holder", {{PFM, 0, 1}, {TOKEN, 0, 3}, {PFM, 3, 4}}, {{0, 0}, {3, 0}}},
        {"answers from stations not known as masters",
         {{TOKEN, 1, 2}, {TEST_RESP, 20, 1}, {DER, 21, 1}, {DNER, 22, 1}, {POSTPONED, 23, 1}},
         {{20, 0}, {21, 0}, {22, 0}, {23, 0}}},
        {"a known master talking without the token",
         {{TOKEN, 3, 1}, {TEST_RESP, 3, 1}, {DER, 3, 1}, {DNER, 3, 1}, {POSTPONED, 3, 1}},
         {{3, 4}}},
        {"the polled station's reply is out of turn", {{TOKEN, 1, 2}, {PFM, 2, 3}, {RPFM, 3, 2}}, {{2, 0}, {3, 1}}},
        {"the holder talks freely", {{TOKEN, 1, 2}, {DER, 2, 20}, {DNER, 20, 2}, {TOKEN, 2, 1}}, {{1, 0}, {2, 0}, {20, 0}}},
        {"damaged data frames are judged too", {{TOKEN, 1, 2}, {DNER, 1, 9, 4}, {DNER, 1, 9, 3}}, {{1, 2}}},
        {"a Token from 255 ends the first frame and hands over the token",
         {{TOKEN, 255, 3}, {PFM, 4, 5}, {PFM, 3, 6}}, {{3, 0}, {4, 1}}},
        {"a Token to 255 leaves nobody holding it", {{TOKEN, 1, 255}, {PFM, 1, 2}}, {{1, 1}}},
    };
    for (const OutOfTurnCase& c : cases) {
        Restart();
        CountAll(c.frames);
        for (auto [mac, count] : c.counts) {
            EXPECT_EQ(Dev(mac).m_nOutOfTurnCount, count) << c.what << ", station " << mac;
            EXPECT_EQ(Dev(mac).m_bBrokeSequence, count ? 1 : 0) << c.what << ", station " << mac;
        }
    }
}

TEST_F(StatisticsUpdateTest, OutOfTurnKeepsTheLastFiveStamps)
{
    Count({TOKEN, 1, 2}, 0);
    for (int i = 1; i <= 7; ++i)
        Count({PFM, 9, 10}, i * 1000);
    EXPECT_EQ(Dev(9).m_nOutOfTurnCount, 7);
    EXPECT_STREQ(Dev(9).m_szOutOfTurnStamp[0], " [05-03-2009 14:00:07:000]");
    EXPECT_STREQ(Dev(9).m_szOutOfTurnStamp[1], " [05-03-2009 14:00:06:000]");
    EXPECT_STREQ(Dev(9).m_szOutOfTurnStamp[4], " [05-03-2009 14:00:03:000]");

    Count({PFM, 8, 10}, 9000);
    EXPECT_STREQ(Dev(8).m_szOutOfTurnStamp[0], " [05-03-2009 14:00:09:000]");
    EXPECT_STREQ(Dev(8).m_szOutOfTurnStamp[1], "");
}

TEST_F(StatisticsUpdateTest, RecordOutOfTurnShiftsAndTakesTheFrameTextStamp)
{
    {
        // A caller's own stamp buffer, gone once the frame has been counted.
        std::string stamp = " [05-03-2009 14:00:01:000]";
        UpdateStatistics(1, 2, TOKEN, stamp.c_str(), 0);
    }
    for (int i = 1; i <= 6; ++i) {
        std::snprintf(g_FrameText.m_szStamp, sizeof g_FrameText.m_szStamp, " [05-03-2009 14:00:0%d:500]", i);
        RecordOutOfTurn(7);
    }
    EXPECT_STREQ(Dev(7).m_szOutOfTurnStamp[0], " [05-03-2009 14:00:06:500]");
    EXPECT_STREQ(Dev(7).m_szOutOfTurnStamp[1], " [05-03-2009 14:00:05:500]");
    EXPECT_STREQ(Dev(7).m_szOutOfTurnStamp[4], " [05-03-2009 14:00:02:500]");
    EXPECT_EQ(Dev(7).m_nOutOfTurnCount, 0) << "the count is the caller's";
    RecordOutOfTurn(255); // no entry: nothing to shift
}

TEST_F(StatisticsUpdateTest, RolesCountsAndTheAnswerRule)
{
    CountAll({
        {TOKEN, 1, 2},
        {DER, 2, 20},      // 20 awaited
        {DNER, 20, 2},     // answers: present, slave
        {DNER, 21, 2},     // unasked: stays absent
        {TEST_REQ, 2, 22}, // never answers
        {DER, 2, 1},       // 1 is present already: not awaited
        {TEST_REQ, 2, 23},
        {TEST_RESP, 23, 2},
        {DER, 2, 24},
        {POSTPONED, 24, 2},
        {PFM, 2, 9},
        {PFM, 2, 40},
        {RPFM, 9, 2},
        {TOKEN, 2, 1},
    });
    EXPECT_EQ(Dev(1).m_bMaster, 1);
    EXPECT_EQ(Dev(1).m_bPresent, 1);
    EXPECT_EQ(Dev(1).m_bAwaitingReply, 0);
    EXPECT_EQ(Dev(2).m_bMaster, 1);
    for (int slave : {20, 23, 24}) {
        EXPECT_EQ(Dev(slave).m_bPresent, 1) << slave;
        EXPECT_EQ(Dev(slave).m_bSlave, 1) << slave;
        EXPECT_EQ(Dev(slave).m_bAwaitingReply, 0) << slave;
        EXPECT_EQ(Dev(slave).m_bMaster, 0) << slave;
    }
    EXPECT_EQ(Dev(21).m_bPresent, 0);
    EXPECT_EQ(Dev(21).m_bSlave, 0);
    EXPECT_EQ(Dev(22).m_bAwaitingReply, 1) << "a missing slave";
    EXPECT_EQ(Dev(22).m_bPresent, 0);
    EXPECT_EQ(Dev(9).m_bPresent, 0) << "answering a poll proves nothing";

    EXPECT_EQ(Dev(2).m_nFrameCount[DER][0], 3);
    EXPECT_EQ(Dev(20).m_nFrameCount[DER][1], 1);
    EXPECT_EQ(Dev(2).m_nFrameCount[DNER][1], 2);
    EXPECT_EQ(Dev(2).m_nFrameCount[TOKEN][0], 1);
    EXPECT_EQ(Dev(2).m_nFrameCount[TOKEN][1], 1);
    EXPECT_EQ(Dev(2).m_nSentTo[20], 1);
    EXPECT_EQ(Dev(20).m_nReceivedFrom[2], 1);
    EXPECT_EQ(Dev(20).m_nSentTo[2], 1);
    EXPECT_EQ(Dev(2).m_nReceivedFrom[21], 1);
    EXPECT_EQ(Dev(2).m_nSentTo[22], 0) << "only data frames are pairs";

    const CNetworkStatistics& st = g_NetworkStatistics;
    EXPECT_EQ(st.m_byTopMaster, 2);
    EXPECT_EQ(st.m_byEffectiveMaxMaster, 40);
    EXPECT_EQ(st.m_bPolled[9], 1);
    EXPECT_EQ(st.m_bPolled[40], 1);
    EXPECT_EQ(st.m_bPolled[10], 0);
    EXPECT_EQ(g_byTokenHolder, 1);
}

TEST_F(StatisticsUpdateTest, BadDataCrcCountsTheFrameButNotThePair)
{
    CountAll({{TOKEN, 1, 2}, {DER, 2, 20, 4}, {DNER, 20, 2, 4}, {DNER, 2, 21, 3}, {DER, 2, 22, 0}});
    EXPECT_EQ(Dev(2).m_nFrameCount[DER][0], 2);
    EXPECT_EQ(Dev(20).m_nFrameCount[DER][1], 1);
    EXPECT_EQ(Dev(2).m_nSentTo[20], 0);
    EXPECT_EQ(Dev(20).m_nReceivedFrom[2], 0);
    EXPECT_EQ(Dev(20).m_nSentTo[2], 0);
    EXPECT_EQ(Dev(20).m_bSlave, 1) << "the answer still proves the slave";
    EXPECT_EQ(Dev(2).m_nSentTo[21], 1);
    EXPECT_EQ(Dev(2).m_nSentTo[22], 1);
}

TEST_F(StatisticsUpdateTest, CaptureResetRestartsTokenState)
{
    CountAll({{TOKEN, 1, 2}, {PFM, 2, 3}});
    EXPECT_EQ(g_byTokenHolder, 2);
    g_bResetTokenState = 1; // a new capture's first frame
    Count({PFM, 5, 6});
    EXPECT_EQ(Dev(5).m_nOutOfTurnCount, 0);
    EXPECT_EQ(g_bResetTokenState, 0);
    Count({PFM, 5, 6});
    EXPECT_EQ(Dev(5).m_nOutOfTurnCount, 1) << "holder back to 0";
}

TEST_F(StatisticsUpdateTest, BlocksCloseAtTheHundredAndFirstToken)
{
    // Station 1 passes every 50 ms and holds the token 30 ms of it.
    Ring(100, 1000, 50, 30);
    EXPECT_EQ(g_NetworkStatistics.m_nBetweenCount[1], 100);
    EXPECT_EQ(g_nBetweenBlockIndex[1], 0);
    EXPECT_EQ(g_NetworkStatistics.m_nBetweenAverage[1][0], 0);

    Ring(1, 1000 + 100 * 50, 50, 30); // the 101st
    const CNetworkStatistics& st = g_NetworkStatistics;
    EXPECT_EQ(g_nBetweenBlockIndex[1], 1);
    EXPECT_EQ(g_nHoldBlockIndex[1], 1);
    EXPECT_EQ(st.m_nBetweenAverage[1][0], 50) << "100 samples of 50 over 100";
    EXPECT_EQ(st.m_nHoldAverage[1][0], 29) << "99 samples of 30 over 100";
    EXPECT_EQ(st.m_nBetweenCount[1], 1);
    EXPECT_EQ(st.m_nHoldCount[1], 1);
    EXPECT_EQ(Timing(1).m_nSumBetween, 0);
    EXPECT_EQ(Timing(1).m_nSumHold, 0);
    EXPECT_STREQ(Dev(1).m_szBlockStamp[0], " [05-03-2009 14:00:06:000]") << "the stamp of its last Token";
    EXPECT_STREQ(Dev(1).m_szBlockStamp[1], " [05-03-2009 14:00:06:000]");

    Ring(49, 1000 + 101 * 50, 50, 30);
    EXPECT_STREQ(Dev(1).m_szBlockStamp[0], " [05-03-2009 14:00:06:000]");
    EXPECT_STREQ(Dev(1).m_szBlockStamp[1], " [05-03-2009 14:00:08:450]") << "the latest Token";

    Ring(50, 1000 + 150 * 50, 50, 30); // up to the 200th: still open
    EXPECT_EQ(g_nBetweenBlockIndex[1], 1);
    Ring(1, 1000 + 200 * 50, 50, 30); // the 201st closes block 1
    EXPECT_EQ(g_nBetweenBlockIndex[1], 2);
    EXPECT_EQ(st.m_nBetweenAverage[1][1], 50);
    EXPECT_EQ(st.m_nHoldAverage[1][1], 30);

    EXPECT_EQ(Timing(1).m_nLongestBetween, 50);
    EXPECT_EQ(Timing(1).m_nShortestBetween, 50);
    EXPECT_EQ(Timing(1).m_nLongestHold, 30);
    EXPECT_EQ(Timing(1).m_nShortestHold, 30);
    for (int mac = 0; mac < MSTP_STATION_COUNT; ++mac) {
        EXPECT_EQ(g_nBetweenBlockIndex[mac], g_nHoldBlockIndex[mac]) << mac;
        EXPECT_EQ(st.m_nBetweenCount[mac], st.m_nHoldCount[mac]) << mac;
    }
}

TEST_F(StatisticsUpdateTest, AfterTenBlocksTheLastSlotTakesTheNewest)
{
    g_MstpStack.m_nAverageDim = 2;
    int t = 1000;
    Count({TOKEN, 1, 2}, t);
    // Eleven blocks of two between-times each; block k has gaps of 10 * (k + 1) ms.
    for (int k = 0; k < 11; ++k)
        for (int i = 0; i < 2; ++i)
            Count({TOKEN, 1, 2}, t += 10 * (k + 1));
    const CNetworkStatistics& st = g_NetworkStatistics;
    EXPECT_EQ(g_nBetweenBlockIndex[1], 9);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(st.m_nBetweenAverage[1][k], 10 * (k + 1)) << k;
    EXPECT_EQ(st.m_nBetweenAverage[1][9], 110) << "the most recently closed block";
    Count({TOKEN, 1, 2}, t += 5);
    Count({TOKEN, 1, 2}, t += 5);
    EXPECT_EQ(g_nBetweenBlockIndex[1], 9);
    EXPECT_EQ(st.m_nBetweenAverage[1][9], 5) << "the newest block again";
}

struct BetweenCase {
    const char* what;
    std::vector<int> times; // ms within the hour of station 1's Tokens
    int sum, longest, shortest;
};

TEST_F(StatisticsUpdateTest, TimeBetweenTokens)
{
    const int hour = 3600000;
    const BetweenCase cases[] = {
        {"the hour wraps", {59 * 60000 + 59 * 1000 + 900, 100}, 200, 200, 200},
        {"an hour or more is taken modulo the hour", {10 * 60000, 15 * 60000}, 5 * 60000, 5 * 60000, 5 * 60000},
        {"a first Token at exactly 0 takes no sample next time", {0, 50, 100}, 50, 50, 50},
        {"the first Token's time is the first shortest", {400, 900, 1500}, 1100, 600, 400},
        {"longest and shortest", {1000, 1100, 1400, 1450}, 450, 300, 50},
        {"last moment of the hour", {hour - 1, 0 + 99}, 100, 100, 100},
    };
    for (const BetweenCase& c : cases) {
        Restart();
        for (int t : c.times)
            Count({TOKEN, 1, 2}, t);
        EXPECT_EQ(Timing(1).m_nSumBetween, c.sum) << c.what;
        EXPECT_EQ(Timing(1).m_nLongestBetween, c.longest) << c.what;
        EXPECT_EQ(Timing(1).m_nShortestBetween, c.shortest) << c.what;
        EXPECT_EQ(Timing(1).m_nPassTime, c.times.back()) << c.what;
        EXPECT_EQ(g_NetworkStatistics.m_nTokenReceivedTime[2], c.times.back()) << c.what;
    }
}

TEST_F(StatisticsUpdateTest, HoldingTimeSamples)
{
    // 2 passes to 1 at 1000, 1 holds 30; then 40; then 20.
    Count({TOKEN, 2, 1}, 1000);
    Count({TOKEN, 1, 2}, 1030); // first Token of 1: no sample
    Count({TOKEN, 2, 1}, 1100);
    Count({TOKEN, 1, 2}, 1140); // second: sets only the shortest
    EXPECT_EQ(Timing(1).m_nShortestHold, 40);
    EXPECT_EQ(Timing(1).m_nSumHold, 0);
    EXPECT_EQ(Timing(1).m_nLongestHold, 0);
    Count({TOKEN, 2, 1}, 1200);
    Count({TOKEN, 1, 2}, 1220);
    Count({TOKEN, 2, 1}, 1300);
    Count({TOKEN, 1, 2}, 1390);
    EXPECT_EQ(Timing(1).m_nSumHold, 110);
    EXPECT_EQ(Timing(1).m_nLongestHold, 90);
    EXPECT_EQ(Timing(1).m_nShortestHold, 20);
    EXPECT_EQ(Timing(1).m_nPreviousHold, 90);
}

// Broadcast traffic and frames from 255 touch nothing beyond the tables (ASan guards the heap
// table; the rest is compared field by field).
TEST_F(StatisticsUpdateTest, BroadcastAddressWritesNothingOutsideTheTables)
{
    CountAll({
        {TOKEN, 1, 2},
        {DNER, 1, 255},
        {DNER, 1, 255, 4},
        {DER, 1, 255},
        {PFM, 1, 255},
        {TEST_REQ, 1, 255},
        {RPFM, 1, 255},
        {TOKEN, 1, 255},
        {DNER, 255, 1},
        {DER, 255, 254},
        {TEST_RESP, 255, 254},
        {PFM, 255, 200},
        {TOKEN, 255, 254},
        {TOKEN, 254, 255},
        {DNER, 254, 255},
    });
    const CNetworkStatistics& st = g_NetworkStatistics;
    EXPECT_EQ(Dev(1).m_nFrameCount[DNER][0], 2);
    EXPECT_EQ(Dev(1).m_nFrameCount[DER][0], 1);
    EXPECT_EQ(Dev(1).m_nFrameCount[PFM][0], 1);
    EXPECT_EQ(Dev(1).m_nFrameCount[TOKEN][0], 2);
    EXPECT_EQ(Dev(254).m_nFrameCount[TOKEN][0], 1);
    EXPECT_EQ(Dev(254).m_nFrameCount[DNER][0], 1);
    EXPECT_EQ(Dev(1).m_nFrameCount[DNER][1], 0) << "nothing from 255 is counted";
    EXPECT_EQ(Dev(254).m_nFrameCount[DER][1], 0);
    EXPECT_EQ(Dev(254).m_nFrameCount[TOKEN][1], 0);
    EXPECT_EQ(Dev(200).m_nFrameCount[PFM][1], 0);
    EXPECT_EQ(st.m_bPolled[200], 0);
    EXPECT_EQ(st.m_byEffectiveMaxMaster, 255) << "a sender's poll to 255 is still its highest";
    EXPECT_EQ(st.m_byTopMaster, 254);
    EXPECT_EQ(st.m_bTopMasterAbnormal, 0) << "the member after m_bPolled";
    EXPECT_EQ(g_byTokenHolder, 255);

    // No pair count anywhere, and no stray writes into the neighbouring fields of a record.
    for (int mac = 0; mac < MSTP_STATION_COUNT; ++mac) {
        for (int peer = 0; peer < MSTP_STATION_COUNT; ++peer) {
            EXPECT_EQ(Dev(mac).m_nSentTo[peer], 0) << mac << " " << peer;
            EXPECT_EQ(Dev(mac).m_nReceivedFrom[peer], 0) << mac << " " << peer;
        }
        if (mac != 1 && mac != 254) {
            EXPECT_STREQ(Dev(mac).m_szBlockStamp[0], "") << mac;
        }
        if (mac != 2) {
            EXPECT_EQ(st.m_nTokenReceivedTime[mac], 0) << mac;
        }
    }
    for (int i = 0; i < 255; ++i)
        EXPECT_EQ(st.m_nBetweenCount[i] != 0, i == 1 || i == 254) << i;
}

} // namespace

namespace {

// Long gaps in a large block would overflow the block's sum; it stops at the largest int instead
// (UBSan would stop the test at a signed overflow).
TEST_F(StatisticsUpdateTest, BlockSumOfLongGapsDoesNotOverflow)
{
    g_MstpStack.m_nAverageDim = 10000;
    int t = 1;
    for (int i = 0; i < 1000; ++i) {
        Count({TOKEN, 1, 2}, t);
        t = (t + 3'000'000) % 3'600'000;
    }
    EXPECT_EQ(Timing(1).m_nSumBetween, INT_MAX);
    EXPECT_EQ(Timing(1).m_nLongestBetween, 3'000'000);
}

} // namespace
