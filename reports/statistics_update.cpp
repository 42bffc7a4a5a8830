#include "reports/statistics_update.h"

#include <climits>
#include <cstdio>

#include "mstp/mstp_stack.h"
#include "reports/statistics.h"

namespace {

constexpr int kMillisecondsPerHour = 3600000;

// The stamp of the frame being counted; RecordOutOfTurn copies it. Outside UpdateStatistics it is
// the frame text's own stamp, never a caller's buffer that may be gone by then.
const char* g_pszCurrentStamp = g_FrameText.m_szStamp;

struct CurrentStampScope {
    explicit CurrentStampScope(const char* stamp) { g_pszCurrentStamp = stamp ? stamp : ""; }
    ~CurrentStampScope() { g_pszCurrentStamp = g_FrameText.m_szStamp; }
    CurrentStampScope(const CurrentStampScope&) = delete;
    CurrentStampScope& operator=(const CurrentStampScope&) = delete;
};

void CopyStamp(char (&to)[CAPTURE_STAMP_SIZE], const char* from)
{
    std::snprintf(to, sizeof to, "%s", from ? from : "");
}

DeviceRecord* Entry(BYTE mac)
{
    return mac < MSTP_STATION_COUNT ? &g_pDevices[mac] : nullptr;
}

// Sums of a block stay within their int: a block of very long gaps stops at the largest value.
void AddSample(int& sum, int sample)
{
    long long total = static_cast<long long>(sum) + sample;
    sum = total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

// One sample into a running sum and the capture's longest and shortest.
void TakeSample(int sample, int& sum, int& longest, int& shortest)
{
    AddSample(sum, sample);
    if (sample > longest)
        longest = sample;
    if (sample < shortest)
        shortest = sample;
}

int WithinHour(int difference)
{
    return difference < 0 ? difference + kMillisecondsPerHour : difference;
}

void AnswerRule(DeviceRecord* sender)
{
    if (sender && sender->m_bAwaitingReply == 1) {
        sender->m_bAwaitingReply = 0;
        sender->m_bPresent = 1;
        sender->m_bSlave = 1;
    }
}

void AwaitReply(DeviceRecord* addressed)
{
    if (addressed && addressed->m_bPresent == 0)
        addressed->m_bAwaitingReply = 1;
}

void PairCount(DeviceRecord* sender, DeviceRecord* addressed, BYTE s, BYTE d, int errorKind)
{
    if (errorKind == 4 || !sender || !addressed)
        return;
    ++sender->m_nSentTo[d];
    ++addressed->m_nReceivedFrom[s];
}

// Closes the open block of one of the two averages when it holds a block's worth of Tokens:
// stores its average, moves on to the next slot (the last slot is reused) and starts it empty.
void CloseBlockIfFull(int& count, int& sum, int (&averages)[AVERAGE_BLOCK_COUNT], int& blockIndex,
                      DeviceRecord& sender, const char* stamp)
{
    if (count != g_MstpStack.m_nAverageDim)
        return;
    const int divisor = count == 0 ? 1 : count;
    averages[blockIndex] = sum / divisor;
    if (blockIndex < AVERAGE_BLOCK_COUNT - 1)
        ++blockIndex;
    CopyStamp(sender.m_szBlockStamp[blockIndex], stamp);
    count = 0;
    sum = 0;
}

void TokenTimingStep(BYTE s, BYTE d, DeviceRecord& sender, const char* stamp)
{
    CNetworkStatistics& st = g_NetworkStatistics;
    TokenTiming& t = st.m_TokenTiming[s];

    const int now = st.m_nMinute * 60000 + st.m_nSecond * 1000 + st.m_nMillisecond;
    t.m_nPassTime = now;
    if (d < MSTP_STATION_COUNT)
        st.m_nTokenReceivedTime[d] = now;

    const int between = WithinHour(now - t.m_nLastPassTime);
    if (t.m_nLastPassTime == 0) {
        t.m_nLastPassTime = now;
        t.m_nShortestBetween = now;
    } else {
        TakeSample(between, t.m_nSumBetween, t.m_nLongestBetween, t.m_nShortestBetween);
    }

    CopyStamp(sender.m_szBlockStamp[g_nBetweenBlockIndex[s]], stamp);
    CloseBlockIfFull(st.m_nBetweenCount[s], t.m_nSumBetween, st.m_nBetweenAverage[s], g_nBetweenBlockIndex[s],
                     sender, stamp);

    const int hold = WithinHour(now - st.m_nTokenReceivedTime[s]);
    if (t.m_nPreviousHold != 0) {
        if (t.m_nShortestHold == 0)
            t.m_nShortestHold = hold;
        else
            TakeSample(hold, t.m_nSumHold, t.m_nLongestHold, t.m_nShortestHold);
    }
    CloseBlockIfFull(st.m_nHoldCount[s], t.m_nSumHold, st.m_nHoldAverage[s], g_nHoldBlockIndex[s], sender, stamp);

    t.m_nLastPassTime = now;
    t.m_nPreviousHold = hold;
    ++st.m_nBetweenCount[s];
    ++st.m_nHoldCount[s];
}

} // namespace

void RecordOutOfTurn(BYTE mac)
{
    if (!g_pDevices || mac >= MSTP_STATION_COUNT)
        return;
    DeviceRecord& r = g_pDevices[mac];
    for (int i = OUT_OF_TURN_STAMP_COUNT - 1; i > 0; --i)
        CopyStamp(r.m_szOutOfTurnStamp[i], r.m_szOutOfTurnStamp[i - 1]);
    CopyStamp(r.m_szOutOfTurnStamp[0], g_pszCurrentStamp);
}

void UpdateStatistics(BYTE s, BYTE d, BYTE frameType, const char* stamp, int errorKind)
{
    if (!g_pDevices)
        return;
    const CurrentStampScope currentStamp(stamp);

    if (g_bResetTokenState == 1) {
        g_bResetTokenState = 0;
        g_bFirstFrame = 1;
        g_byTokenHolder = 0;
    }
    if (frameType > 7)
        return;

    DeviceRecord* sender = Entry(s);
    DeviceRecord* addressed = Entry(d);
    CNetworkStatistics& st = g_NetworkStatistics;

    if (sender && s != g_byTokenHolder && g_bFirstFrame == 0 && (frameType <= 3 || sender->m_bMaster == 1)) {
        sender->m_bBrokeSequence = 1;
        ++sender->m_nOutOfTurnCount;
        RecordOutOfTurn(s);
    }
    g_bFirstFrame = 0;

    // A sender without an entry (255) counts nothing; only the token holder follows its Token.
    if (!sender) {
        if (frameType == 0)
            g_byTokenHolder = d;
        return;
    }

    ++sender->m_nFrameCount[frameType][0];
    if (addressed)
        ++addressed->m_nFrameCount[frameType][1];

    switch (frameType) {
    case 0:
        if (s > st.m_byTopMaster)
            st.m_byTopMaster = s;
        sender->m_bPresent = 1;
        sender->m_bMaster = 1;
        TokenTimingStep(s, d, *sender, g_pszCurrentStamp);
        g_byTokenHolder = d;
        break;
    case 1:
        if (addressed)
            st.m_bPolled[d] = 1;
        if (d > st.m_byEffectiveMaxMaster)
            st.m_byEffectiveMaxMaster = d;
        break;
    case 2:
        break;
    case 3:
        AwaitReply(addressed);
        break;
    case 4:
        AnswerRule(sender);
        break;
    case 5:
        PairCount(sender, addressed, s, d, errorKind);
        AnswerRule(sender);
        AwaitReply(addressed);
        break;
    case 6:
        PairCount(sender, addressed, s, d, errorKind);
        AnswerRule(sender);
        break;
    case 7:
        AnswerRule(sender);
        break;
    }
}
