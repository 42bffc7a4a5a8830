// Master-node state machine: token passing, polling for masters, lost-token recovery and the
// serving of the send queue. Runs on the worker thread after each reception step.
#include <cstring>

#include "diagnostics/debug_log.h"
#include "diagnostics/file_utils.h"
#include "mstp/mstp_stack.h"

namespace {

constexpr BYTE NEXT_FRAME_NONE = 255;
constexpr BYTE NEXT_FRAME_QUEUED = 254;

// Bit 2 of a network-layer packet's control octet: the sender expects a reply.
constexpr unsigned NPDU_EXPECTING_REPLY_BIT = 2;

#define MSTP_VERBOSE(stack, ...)       \
    do {                               \
        if ((stack).m_bVerbose)        \
            DebugLog(__VA_ARGS__);     \
    } while (0)

bool IsDataFrameNoReply(BYTE type)
{
    return type == FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY || type == FRAME_TYPE_TEST_RESPONSE;
}

bool IsDataFrameNeedingReply(BYTE type)
{
    return type == FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY || type == FRAME_TYPE_TEST_REQUEST;
}

// The address after base that may hold a master; this station's own address is skipped.
BYTE NextPollStation(const CMstpStack& s, BYTE base)
{
    BYTE ps = static_cast<BYTE>(base + 1);
    if (ps > s.Nmax_master)
        ps = 0;
    if (ps == s.TS)
        ps = static_cast<BYTE>(ps + 1);
    return ps;
}

// (address + 1) mod (Nmax_master + 1): the address that follows in the master ring.
uint32_t RingSuccessor(const CMstpStack& s, BYTE address)
{
    return (static_cast<uint32_t>(address) + 1u) % (s.Nmax_master + 1u);
}

void IndicateData(CMstpStack& s)
{
    if (s.m_pfnDataIndication)
        s.m_pfnDataIndication(s.InputBuffer, s.DataLength, s.SourceAddress);
}

void SendNoData(CMstpStack& s, BYTE type, BYTE destination)
{
    s.SendFrame(type, destination, nullptr, 0);
}

// Polls the address after base with no successor known: the poll cycle runs until a master
// answers or the polls come back round to this station.
void PollWithoutSuccessor(CMstpStack& s, BYTE base, uint32_t tokenCount)
{
    s.PS = NextPollStation(s, base);
    SendNoData(s, FRAME_TYPE_POLL_FOR_MASTER, s.PS);
    s.NS = s.TS;
    s.RetryCount = 0;
    s.EventCount = 0;
    s.TokenCount = tokenCount;
    s.m_nMasterState = MASTER_STATE_POLL_FOR_MASTER;
}

// Up to one round of the ring from m_nQueueIndex; stops at the first slot that holds a packet.
// The caller holds m_QueueLock.
bool FindQueuedPacket(CMstpStack& s)
{
    for (int step = 0; step < MSTP_SEND_QUEUE_SIZE; ++step) {
        if (s.m_nQueueIndex >= static_cast<uint32_t>(MSTP_SEND_QUEUE_SIZE))
            s.m_nQueueIndex = 0;
        if (s.m_SendQueue[s.m_nQueueIndex].m_nLength != 0)
            return true;
        ++s.m_nQueueIndex;
    }
    return false;
}

// Sends the packet at m_nQueueIndex and frees its slot; true when it went out expecting a reply.
bool SendQueuedPacket(CMstpStack& s)
{
    std::lock_guard<std::mutex> lock(s.m_QueueLock);
    if (s.m_nQueueIndex >= static_cast<uint32_t>(MSTP_SEND_QUEUE_SIZE))
        s.m_nQueueIndex = 0;
    MstpQueueSlot& slot = s.m_SendQueue[s.m_nQueueIndex];
    bool expectingReply = false;
    if (slot.m_nLength != 0) {
        expectingReply = slot.m_nLength >= 2 && IsBitSet(slot.m_Data[1], NPDU_EXPECTING_REPLY_BIT);
        s.SendFrame(expectingReply ? FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY : FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY,
                    slot.m_byDestination, slot.m_Data, slot.m_nLength);
        memset(slot.m_Data, 0, sizeof slot.m_Data);
        slot.m_nLength = 0;
        slot.m_byDestination = 0;
    }
    FindQueuedPacket(s); // moves on to the next packet waiting, in ring order
    return expectingReply;
}

void StateIdle(CMstpStack& s)
{
    if (s.SilenceTimer >= s.Tno_token) {
        MSTP_VERBOSE(s, "MSTP.Error #101 - LostToken - assume that the token has been lost SilenceTimer=[%f.03]",
                     static_cast<double>(s.SilenceTimer));
        s.m_nMasterState = MASTER_STATE_NO_TOKEN;
        return;
    }
    if (!s.ReceivedValidFrame)
        return;

    const bool forUs = s.DestinationAddress == s.TS;
    const bool broadcast = s.DestinationAddress == MSTP_BROADCAST;
    if ((!forUs && !broadcast) ||
        (broadcast && (s.FrameType == FRAME_TYPE_TOKEN || s.FrameType == FRAME_TYPE_TEST_REQUEST ||
                       s.FrameType == FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY))) {
        // ReceivedUnwantedFrame
        MSTP_VERBOSE(s, "MSTP.Error. ReceivedUnwantedFrame - an unexpected or unwanted frame was received");
        MSTP_VERBOSE(s, "   DestinationAddress=[%02X]", s.DestinationAddress);
        MSTP_VERBOSE(s, "   TS                =[%02X]", s.TS);
        s.ReceivedValidFrame = FALSE;
        return;
    }
    if (forUs && s.FrameType == FRAME_TYPE_TOKEN) {
        MSTP_VERBOSE(s, "MSTP.ReceivedToken <== %02X", s.SourceAddress);
        s.ReceivedValidFrame = FALSE;
        s.FrameCount = 0;
        s.SoleMaster = FALSE;
        s.m_nMasterState = MASTER_STATE_USE_TOKEN;
        return;
    }
    if (forUs && s.FrameType == FRAME_TYPE_POLL_FOR_MASTER) {
        MSTP_VERBOSE(s, "MSTP.ReceivedPFM");
        SendNoData(s, FRAME_TYPE_REPLY_TO_POLL_FOR_MASTER, s.SourceAddress);
        s.ReceivedValidFrame = FALSE;
        return;
    }
    if ((forUs || broadcast) && IsDataFrameNoReply(s.FrameType)) {
        MSTP_VERBOSE(s, "MSTP.ReceivedDataNoReply - indicate successful reception to the higher layers");
        IndicateData(s);
        s.ReceivedValidFrame = FALSE;
        return;
    }
    if (forUs && IsDataFrameNeedingReply(s.FrameType)) {
        MSTP_VERBOSE(s, "MSTP.ReceivedDataNeedingReply");
        s.ReceivedValidFrame = FALSE;
        s.m_nMasterState = MASTER_STATE_ANSWER_DATA_REQUEST;
        return;
    }
    // Any other valid frame (a late reply to a poll, a postponed reply, a broadcast poll) is
    // dropped by MasterNodeFSM at the end of this step.
}

void StateUseToken(CMstpStack& s)
{
    if (s.NextFrame == NEXT_FRAME_NONE) {
        std::lock_guard<std::mutex> lock(s.m_QueueLock);
        if (FindQueuedPacket(s))
            s.NextFrame = NEXT_FRAME_QUEUED;
    }

    switch (s.NextFrame) {
    case NEXT_FRAME_NONE: // NothingToSend
        s.FrameCount = s.Nmax_info_frames;
        s.m_nMasterState = MASTER_STATE_DONE_WITH_TOKEN;
        return;
    case NEXT_FRAME_QUEUED: {
        MSTP_VERBOSE(s, "MSTP.SendCustom");
        bool expectingReply = SendQueuedPacket(s);
        ++s.FrameCount;
        s.NextFrame = NEXT_FRAME_NONE;
        s.m_nMasterState = expectingReply ? MASTER_STATE_WAIT_FOR_REPLY : MASTER_STATE_DONE_WITH_TOKEN;
        return;
    }
    case FRAME_TYPE_TEST_RESPONSE:
    case FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY:
    case FRAME_TYPE_TEST_REQUEST:
    case FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY: {
        // A frame without data to the sender of the last frame received.
        const bool wait = IsDataFrameNeedingReply(s.NextFrame);
        MSTP_VERBOSE(s, wait ? "MSTP.SendAndWait" : "MSTP.SendNoWait");
        SendNoData(s, s.NextFrame, s.SourceAddress);
        ++s.FrameCount;
        s.NextFrame = NEXT_FRAME_NONE;
        s.m_nMasterState = wait ? MASTER_STATE_WAIT_FOR_REPLY : MASTER_STATE_DONE_WITH_TOKEN;
        return;
    }
    default:
        MSTP_VERBOSE(s, "MSTP.Error. Invalid NextFrame=[%02X]", s.NextFrame);
        ++s.FrameCount;
        s.NextFrame = NEXT_FRAME_NONE;
        s.m_nMasterState = MASTER_STATE_DONE_WITH_TOKEN;
        return;
    }
}

// Nothing above the data link prepares a reply, so it is known at once that none will come: the
// requester is told the reply is postponed, as the standard's CannotReply path does, rather than
// leaving the station stuck here until the next connect.
void StateAnswerDataRequest(CMstpStack& s)
{
    MSTP_VERBOSE(s, "MSTP.ToDo:");
    SendNoData(s, FRAME_TYPE_REPLY_POSTPONED, s.SourceAddress);
    s.m_nMasterState = MASTER_STATE_IDLE;
}

void StateDoneWithToken(CMstpStack& s)
{
    const uint32_t pollLimit = s.Npoll - 1u;
    const bool framesDone = s.FrameCount >= s.Nmax_info_frames;
    const bool pollDue = s.TokenCount >= pollLimit;

    if (!framesDone) {
        MSTP_VERBOSE(s, "MSTP.FYI #108 - SendAnotherFrame");
        s.m_nMasterState = MASTER_STATE_USE_TOKEN;
        return;
    }
    if (!pollDue && s.SoleMaster) {
        MSTP_VERBOSE(s, "MSTP.SoleMaster");
        s.FrameCount = 0;
        ++s.TokenCount;
        s.m_nMasterState = MASTER_STATE_USE_TOKEN;
        return;
    }
    if ((!pollDue && !s.SoleMaster) || s.NS == RingSuccessor(s, s.TS)) {
        // SendToken
        ++s.TokenCount;
        MSTP_VERBOSE(s, "MSTP.SendToken ==> %02X", s.NS);
        SendNoData(s, FRAME_TYPE_TOKEN, s.NS);
        s.RetryCount = 0;
        s.EventCount = 0;
        s.m_nMasterState = MASTER_STATE_PASS_TOKEN;
        return;
    }
    if (RingSuccessor(s, s.PS) != s.NS) {
        // SendMaintenancePFM
        s.PS = NextPollStation(s, s.PS);
        SendNoData(s, FRAME_TYPE_POLL_FOR_MASTER, s.PS);
        s.RetryCount = 0;
        s.m_nMasterState = MASTER_STATE_POLL_FOR_MASTER;
        return;
    }
    if (!s.SoleMaster) {
        MSTP_VERBOSE(s, "MSTP.ResetMaintenancePFM");
        s.PS = s.TS;
        SendNoData(s, FRAME_TYPE_TOKEN, s.NS);
        s.RetryCount = 0;
        s.EventCount = 0;
        s.TokenCount = 1;
        s.m_nMasterState = MASTER_STATE_PASS_TOKEN;
        return;
    }
    // SoleMasterRestartMaintenancePFM
    PollWithoutSuccessor(s, s.NS, 1);
}

void StateWaitForReply(CMstpStack& s)
{
    if (s.SilenceTimer > s.Treply_timeout) {
        MSTP_VERBOSE(s, "MSTP.FYI #107 - ReplyTimeout - assume that the request has failed.");
        s.FrameCount = s.Nmax_info_frames;
        s.m_nMasterState = MASTER_STATE_DONE_WITH_TOKEN;
        return;
    }
    if (!(s.SilenceTimer < s.Treply_timeout))
        return; // exactly at the time-out nothing applies
    if (s.ReceivedInvalidFrame) {
        MSTP_VERBOSE(s, "MSTP.Error #102 - InvalidFrame - there was an error in frame reception");
        s.ReceivedInvalidFrame = FALSE;
        s.m_nMasterState = MASTER_STATE_DONE_WITH_TOKEN;
        return;
    }
    if (!s.ReceivedValidFrame)
        return;
    const bool forUs = s.DestinationAddress == s.TS;
    if (forUs && IsDataFrameNoReply(s.FrameType)) {
        MSTP_VERBOSE(s, "MSTP.ReceivedReply - indicate successful reception to the higher layers");
        IndicateData(s);
        s.ReceivedValidFrame = FALSE;
        s.m_nMasterState = MASTER_STATE_DONE_WITH_TOKEN;
        return;
    }
    if (forUs && s.FrameType == FRAME_TYPE_REPLY_POSTPONED) {
        MSTP_VERBOSE(s, "MSTP.ReceivedPostpone");
        s.ReceivedValidFrame = FALSE;
        s.m_nMasterState = MASTER_STATE_DONE_WITH_TOKEN;
        return;
    }
    MSTP_VERBOSE(s,
                 "MSTP.Error #103 - ReceivedUnexpectedFrame - FrameType=[0x%02x] MSTP.Source=[0x%02x] "
                 "MSTP.Dest=[0x%02x] STimer=[%.02f]",
                 s.FrameType, s.SourceAddress, s.DestinationAddress, static_cast<double>(s.SilenceTimer));
    s.ReceivedValidFrame = FALSE;
    s.m_nMasterState = MASTER_STATE_IDLE;
}

void StatePassToken(CMstpStack& s)
{
    if (s.SilenceTimer < s.Tusage_timeout) {
        if (s.EventCount > s.Nmin_octets) {
            MSTP_VERBOSE(s, "MSTP.SawTokenUser");
            s.m_nMasterState = MASTER_STATE_IDLE;
        }
        return;
    }
    if (s.RetryCount < s.Nretry_token) {
        ++s.RetryCount;
        MSTP_VERBOSE(s, "MSTP.FYI #109 - RetrySendToken => %02X SilenceTimer=%f", s.NS,
                     static_cast<double>(s.SilenceTimer));
        SendNoData(s, FRAME_TYPE_TOKEN, s.NS);
        s.EventCount = 0;
        return;
    }
    // FindNewSuccessor
    MSTP_VERBOSE(s, "MSTP.FYI #110 - FindNewSuccessor - assume that NS has failed.");
    PollWithoutSuccessor(s, s.NS, 0);
}

void StateNoToken(CMstpStack& s)
{
    // This station's own time slot after the silence: T1 <= SilenceTimer < T2.
    const uint32_t t1 = s.Tno_token + s.Tslot * s.TS;
    const uint32_t t2 = s.Tno_token + s.Tslot * (s.TS + 1u);

    if (s.SilenceTimer < t1 && s.EventCount > s.Nmin_octets) {
        MSTP_VERBOSE(s, "MSTP.FYI #111 - SawFrame - some other node exists at a lower address.");
        s.m_nMasterState = MASTER_STATE_IDLE;
        return;
    }
    if (s.SilenceTimer >= t1 && s.SilenceTimer < t2) {
        MSTP_VERBOSE(s, "MSTP.FYI #112 - GenerateToken - assume that this node is the lowest numerical address on "
                        "the network and is empowered to create a token.");
        PollWithoutSuccessor(s, s.TS, 0);
    }
}

void StatePollForMaster(CMstpStack& s)
{
    if (s.ReceivedValidFrame) {
        if (s.DestinationAddress == s.TS && s.FrameType == FRAME_TYPE_REPLY_TO_POLL_FOR_MASTER) {
            MSTP_VERBOSE(s, "MSTP.ReceivedReplyToPFM");
            s.SoleMaster = FALSE;
            s.NS = s.SourceAddress;
            s.EventCount = 0;
            SendNoData(s, FRAME_TYPE_TOKEN, s.NS);
            s.PS = s.TS;
            s.TokenCount = 0;
            s.RetryCount = 0;
            s.ReceivedValidFrame = FALSE;
            s.m_nMasterState = MASTER_STATE_PASS_TOKEN;
            return;
        }
        MSTP_VERBOSE(s,
                     "MSTP.Error #104 - ReceivedUnexpectedFrame - FrameType=[0x%02x] MSTP.Source=[0x%02x] "
                     "MSTP.Dest=[0x%02x] bytes waitting=[%d]",
                     s.FrameType, s.SourceAddress, s.DestinationAddress, static_cast<int>(s.m_nBytesWaiting.load()));
        s.ReceivedValidFrame = FALSE;
        s.m_nMasterState = MASTER_STATE_IDLE;
        return;
    }

    const bool waitedOut = s.SilenceTimer >= s.Tusage_timeout;
    const bool waitedPast = s.SilenceTimer > s.Tusage_timeout;
    if (s.SoleMaster) {
        if (waitedPast || s.ReceivedInvalidFrame) {
            s.FrameCount = 0;
            s.ReceivedInvalidFrame = FALSE;
            s.m_nMasterState = MASTER_STATE_USE_TOKEN;
            return;
        }
    } else if (s.NS != s.TS) {
        if (waitedOut || s.ReceivedInvalidFrame) {
            // DoneWithPFM
            s.EventCount = 0;
            SendNoData(s, FRAME_TYPE_TOKEN, s.NS);
            s.RetryCount = 0;
            s.ReceivedInvalidFrame = FALSE;
            s.m_nMasterState = MASTER_STATE_PASS_TOKEN;
            return;
        }
    } else if (RingSuccessor(s, s.PS) != s.TS) {
        if (waitedOut || s.ReceivedInvalidFrame) {
            // SendNextPFM
            s.PS = NextPollStation(s, s.PS);
            SendNoData(s, FRAME_TYPE_POLL_FOR_MASTER, s.PS);
            s.RetryCount = 0;
            s.ReceivedInvalidFrame = FALSE;
            return;
        }
    } else if (waitedPast || s.ReceivedInvalidFrame) {
        MSTP_VERBOSE(s, "MSTP.FYI #113 - DeclareSoleMaster");
        s.SoleMaster = TRUE;
        s.FrameCount = 0;
        s.ReceivedInvalidFrame = FALSE;
        s.m_nMasterState = MASTER_STATE_USE_TOKEN;
        return;
    }

    if (s.SilenceTimer <= 0.0f && s.DataAvailable) {
        // SawStrayOctet: an octet came in this turn and was dropped outside any frame.
        s.ReceivedValidFrame = FALSE;
        s.m_nMasterState = MASTER_STATE_IDLE;
    }
}

} // namespace

void CMstpStack::MasterNodeFSM()
{
    if (!m_bConnected)
        return;
    switch (m_nMasterState) {
    case MASTER_STATE_IDLE:
        StateIdle(*this);
        break;
    case MASTER_STATE_NO_TOKEN:
        StateNoToken(*this);
        break;
    case MASTER_STATE_USE_TOKEN:
        StateUseToken(*this);
        break;
    case MASTER_STATE_ANSWER_DATA_REQUEST:
        StateAnswerDataRequest(*this);
        break;
    case MASTER_STATE_DONE_WITH_TOKEN:
        StateDoneWithToken(*this);
        break;
    case MASTER_STATE_WAIT_FOR_REPLY:
        StateWaitForReply(*this);
        break;
    case MASTER_STATE_PASS_TOKEN:
        StatePassToken(*this);
        break;
    case MASTER_STATE_POLL_FOR_MASTER:
        StatePollForMaster(*this);
        break;
    default:
        break; // an unknown state does nothing
    }
    // A valid frame that no row of this state took is consumed now, in the step it ended in, and
    // the state stays as it is. Left flagged, it would be judged at a later step against fields
    // that the next header is already overwriting: a late reply to a poll followed by a token
    // between two other stations would read as a token for this station.
    ReceivedValidFrame = FALSE;
}
