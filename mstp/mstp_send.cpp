// Sending side of the MS/TP stack: frame transmission, the send queue and the raw frame dump.
#include <cstring>

#include "diagnostics/debug_log.h"
#include "mstp/mstp_stack.h"

int g_nMstpLogFrameNumber = 0;

namespace {

// Longest data field SendFrame puts on the line: with the header and the data CRC the frame still
// fits one frame buffer.
constexpr uint16_t MSTP_MAX_SEND_DATA = 499;

} // namespace

MstpQueueSlot::MstpQueueSlot() : m_Data{}, m_nLength(0), m_byDestination(0) {}

void CMstpStack::SendFrame(BYTE frameType, BYTE destination, const BYTE* data, uint16_t length)
{
    if (m_bListenOnly)
        return;
    if (destination == TS)
        return; // a station never talks to itself

    if ((frameType == FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY || frameType == FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY) &&
        TS < destination && destination < NS) {
        // A station we talk to sits in the gap before our successor: the next maintenance poll
        // starts after it.
        if (m_bVerbose)
            DebugLog("MSTP.FYI Found device (0x%02x) between TS (0x%02x) and NS (0x%02x), poll for master", destination,
                     TS, NS);
        PS = destination;
    }

    BYTE frame[MSTP_FRAME_BUFFER_SIZE];
    frame[0] = 0x55;
    frame[1] = 0xFF;
    frame[2] = frameType;
    frame[3] = destination;
    frame[4] = TS;
    BYTE headerCrc = 0xFF;
    for (int i = 2; i <= 4; ++i)
        headerCrc = CalcHeaderCRC(frame[i], headerCrc);

    // Data too long for one frame, or missing, leaves as a bare header.
    uint16_t dataLength = (data != nullptr && length > 0 && length <= MSTP_MAX_SEND_DATA) ? length : 0;
    frame[5] = static_cast<BYTE>(dataLength >> 8);
    frame[6] = static_cast<BYTE>(dataLength & 0xFF);
    headerCrc = CalcHeaderCRC(frame[5], headerCrc);
    headerCrc = CalcHeaderCRC(frame[6], headerCrc);
    frame[7] = static_cast<BYTE>(~headerCrc);

    int count = 8;
    if (dataLength > 0) {
        uint16_t dataCrc = 0xFFFF;
        for (uint16_t i = 0; i < dataLength; ++i) {
            frame[count++] = data[i];
            dataCrc = CalcDataCRC(data[i], dataCrc);
        }
        dataCrc = static_cast<uint16_t>(~dataCrc);
        frame[count++] = static_cast<BYTE>(dataCrc & 0xFF);
        frame[count++] = static_cast<BYTE>(dataCrc >> 8);
    }

    m_SerialPort.SendData(frame, count); // a closed port sends nothing; nothing is reported
    SilenceTimer = 0;

    if (m_bVerbose) {
        ClearRawFrame();
        DebugLog("MSTP.Sending message type=[%02X] to [%02X]", frameType, destination);
    }
}

bool CMstpStack::SendPacket(BYTE destination, const BYTE* data, uint16_t length)
{
    if (m_bListenOnly)
        return false;
    if (data == nullptr || length == 0) {
        if (m_bVerbose)
            DebugLog("MSTP.Error #105 - MSTP.SendPacket nothing to send");
        return false;
    }
    if (!m_bConnected) {
        if (m_bVerbose)
            DebugLog("MSTP.Error #106 - MSTP.SendPacket serial comm port has not been opened");
        return false;
    }
    if (length > MSTP_FRAME_BUFFER_SIZE) {
        if (m_bVerbose)
            DebugLog("MSTP.Error #107 - MSTP.SendPacket buffer is too big");
        return false;
    }

    {
        // Callers may be on any thread: the lock publishes a slot to the worker only complete.
        std::lock_guard<std::mutex> lock(m_QueueLock);
        for (MstpQueueSlot& slot : m_SendQueue) {
            if (slot.m_nLength == 0) {
                memcpy(slot.m_Data, data, length);
                slot.m_nLength = length;
                slot.m_byDestination = destination;
                return true;
            }
            if (slot.m_nLength == length && memcmp(slot.m_Data, data, length) == 0)
                return true; // already waiting: a packet goes out once
        }
    }
    if (m_bVerbose)
        DebugLog("MSTP.Error #108 - MSTP.SendPacket is too busy, wait some time and try again");
    return false;
}

// Reads and clears the worker's raw frame: call it on the worker thread or with the stack stopped.
void CMstpStack::WriteMstpLog(bool force)
{
    if (!m_bVerbose && !force)
        return;
    uint32_t bytesWaiting = m_nBytesWaiting.load();
    if (bytesWaiting >= 6 && m_bVerbose)
        DebugLog("MSTP.InBuffer[%d]", static_cast<int>(bytesWaiting));
    if (LastFrameBufferSize == 0)
        return;

    if (FILE* f = fopen("mstp_log.txt", "a+")) {
        fprintf(f, "Frame %03d:\t", g_nMstpLogFrameNumber);
        uint32_t n = LastFrameBufferSize < static_cast<uint32_t>(MSTP_FRAME_BUFFER_SIZE)
                         ? LastFrameBufferSize
                         : static_cast<uint32_t>(MSTP_FRAME_BUFFER_SIZE);
        for (uint32_t i = 0; i < n; ++i)
            fprintf(f, "%02X ", m_RawFrame[i]);
        fprintf(f, "\n");
        fclose(f);
        ++g_nMstpLogFrameNumber;
    }
    ClearRawFrame();
}
