#pragma once
// The BACnet MS/TP data-link object: one global instance, one worker thread per capture that reads
// the serial port or a captured hex log file, decodes every frame and hands it to the frame monitor.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "mstp/serial_port.h"
#include "platform/win_types.h"

constexpr int MSTP_FRAME_BUFFER_SIZE = 510; // every frame buffer; largest DataLength accepted
constexpr int MSTP_STATION_COUNT = 255;     // MAC addresses 0 to 254
constexpr int MSTP_BROADCAST = 255;
constexpr int MSTP_MAX_MASTER = 127;
constexpr int THIS_STATION = 17;
constexpr int MSTP_SEND_QUEUE_SIZE = 100;

enum LogReadState : int {
    LOG_READ_NORMAL = 0,
    LOG_READ_OPEN_FAILED = 1,
    LOG_READ_COMPLETED = 2,
    LOG_READ_NOT_LOG_FILE = 3,
};

enum CaptureSource : char {
    SOURCE_LOG_FILE = '1',
    SOURCE_SERIAL_PORT = '2',
};

enum FrameErrorKind : int {
    FRAME_ERROR_NONE = 0,
    FRAME_ERROR_NOT_FRAME_START = 1,
    FRAME_ERROR_HEADER_CRC = 2,
    FRAME_ERROR_TOO_LONG = 3,
    FRAME_ERROR_DATA_CRC = 4,
};

enum MstpReceiveState : int {
    RECEIVE_STATE_IDLE = 0,
    RECEIVE_STATE_PREAMBLE = 1,
    RECEIVE_STATE_HEADER = 2,
    RECEIVE_STATE_DATA = 3,
};

enum MstpMasterState : int {
    MASTER_STATE_IDLE = 0,
    MASTER_STATE_NO_TOKEN = 10,
    MASTER_STATE_USE_TOKEN = 11,
    MASTER_STATE_ANSWER_DATA_REQUEST = 12,
    MASTER_STATE_DONE_WITH_TOKEN = 13,
    MASTER_STATE_WAIT_FOR_REPLY = 14,
    MASTER_STATE_PASS_TOKEN = 15,
    MASTER_STATE_POLL_FOR_MASTER = 16,
};

enum MstpFrameType : BYTE {
    FRAME_TYPE_TOKEN = 0,
    FRAME_TYPE_POLL_FOR_MASTER = 1,
    FRAME_TYPE_REPLY_TO_POLL_FOR_MASTER = 2,
    FRAME_TYPE_TEST_REQUEST = 3,
    FRAME_TYPE_TEST_RESPONSE = 4,
    FRAME_TYPE_BACNET_DATA_EXPECTING_REPLY = 5,
    FRAME_TYPE_BACNET_DATA_NOT_EXPECTING_REPLY = 6,
    FRAME_TYPE_REPLY_POSTPONED = 7,
};

// Called on the worker thread for every frame that ends. pFrame points into the stack's own buffer
// and is valid only during the call. (valid, errorKind) is (1, 0) or (0, 1..4).
typedef void (*FrameMonitorFn)(BYTE* pFrame, unsigned int nLength, BYTE source, BYTE destination, int valid,
                               int errorKind);
// Data frames addressed to this station (never called in listen-only mode).
typedef void (*DataIndicationFn)(BYTE* pData, unsigned short nLength, BYTE source);

struct MstpQueueSlot {
    MstpQueueSlot();
    BYTE m_Data[MSTP_FRAME_BUFFER_SIZE];
    uint16_t m_nLength; // 0: the slot is free
    BYTE m_byDestination;
};

class CMstpStack {
public:
    CMstpStack();
    ~CMstpStack();
    CMstpStack(const CMstpStack&) = delete;
    CMstpStack& operator=(const CMstpStack&) = delete;

    // Caller sets m_cSource (and m_pLogFile, m_lLogFileSize for the log file) first. Returns 1 when
    // connected. A log-file stream handed to Connect belongs to the stack from then on: the reader
    // closes it at the end of the data, WaitForWorker when the capture is stopped before that; the
    // caller never closes it (m_pLogFile keeps the pointer only as a mark). From any thread but the
    // worker, a running worker is stopped and joined first, so there is never more than one. From
    // inside the worker (the overflow restart) no thread is started.
    BYTE Connect(DataIndicationFn dataCb, int comPort, int baud, BYTE thisStation, int verbose, int listenOnly);
    void SetFrameCallback(FrameMonitorFn fn);
    // Clears the connected flag; returns at once. The worker leaves its loop at its next turn.
    // (The worker also clears the flag and ends by itself when the restart cannot reopen the port
    // or the serial device fails under the capture.)
    void Disconnect();
    // Ends the capture's worker: asks it to stop (as Disconnect does), joins it, then closes the
    // serial port. Whatever ends a capture calls this before it reads statistics or frees tables.
    // Does nothing when called on the worker thread itself.
    void WaitForWorker();

    void Idle();
    // The restart after octets were lost at the port: reconnects with the same settings, which
    // drops the input queue and starts the receive machine afresh.
    void DumpInputBuffer();
    void ReceiveFrameFSM();
    BYTE ReadByte();
    BOOL Resync(BYTE* frame);

    // Master-node machine and sending.
    void MasterNodeFSM();
    void SendFrame(BYTE frameType, BYTE destination, const BYTE* data, uint16_t length);
    bool SendPacket(BYTE destination, const BYTE* data, uint16_t length);
    void WriteMstpLog(bool force);

    std::atomic<int> m_nLogReadState; // LogReadState
    char m_cSource;                   // CaptureSource
    FILE* m_pLogFile;
    int64_t m_lLogFileSize; // logs of a day's traffic pass 2 GiB
    int m_nAverageDim;
    std::atomic<BYTE> m_bNewCapture;
    BYTE DataRegister;
    BOOL DataAvailable;
    BYTE HeaderCRC;
    BYTE FrameType;
    BYTE DestinationAddress;
    BYTE SourceAddress;
    uint16_t DataLength;
    uint16_t DataCRC;
    BOOL m_bReplay;
    BYTE m_SavedFrame[MSTP_FRAME_BUFFER_SIZE];
    uint32_t m_nSavedFrameSize;
    BYTE InputBuffer[MSTP_FRAME_BUFFER_SIZE];
    BYTE m_RawFrame[MSTP_FRAME_BUFFER_SIZE];
    uint32_t LastFrameBufferSize;
    uint32_t m_nMaxDataLength;
    uint32_t EventCount;
    uint32_t Index;
    BYTE TS;
    BYTE NS;
    BYTE PS;
    uint32_t FrameCount;
    uint32_t TokenCount;
    uint32_t RetryCount;
    BOOL SoleMaster;
    BOOL ReceivedInvalidFrame;
    BOOL ReceivedValidFrame;
    int m_nReceiveState; // MstpReceiveState
    int m_nMasterState;  // MstpMasterState
    MstpQueueSlot m_SendQueue[MSTP_SEND_QUEUE_SIZE];
    uint32_t m_nQueueIndex;
    // Guards m_SendQueue: SendPacket may run on any thread while the worker serves and empties
    // slots, and Connect empties them all.
    std::mutex m_QueueLock;
    BYTE NextFrame;
    DataIndicationFn m_pfnDataIndication;
    std::atomic<FrameMonitorFn> m_pfnFrameMonitor;
    BOOL m_bListenOnly;
    BOOL m_bVerbose;
    CSerialPort m_SerialPort;
    int m_nComPort;
    int m_nBaudRate;
    std::atomic<uint32_t> m_nBytesWaiting;
    std::atomic<BYTE> m_bConnected;
    std::atomic<int> m_nRestartCount;
    // Times the serial driver said it lost octets during this capture (each followed by a restart);
    // set to 0 by a capture's Connect, not by the restart's.
    std::atomic<int> m_nOctetLossCount{0};
    float SilenceTimer;
    // Timing parameters (ms or counts), set by the constructor and never changed.
    uint32_t Tframe_abort;
    uint32_t Tno_token;
    uint32_t Treply_timeout;
    uint32_t Nmax_info_frames;
    uint32_t Npoll;
    uint32_t Nmax_master;
    uint32_t Nretry_token;
    uint32_t Nmin_octets;
    uint32_t Tslot;
    uint32_t m_nSendDelay;
    uint32_t Tusage_timeout;
    uint32_t m_nSoleMasterSilenceLimit;

    // Stream position of the log-file reader after its last read, for a progress bar: read this,
    // never ftell on m_pLogFile, which the worker reads and closes.
    std::atomic<int64_t> m_lLogReadPosition;

private:
    friend void MstpWorkerThread(void*);
    void WorkerLoop();
    BOOL ReadLogOctet();
    int PeekLogChar();
    void CheckInputQueue();
    void ReportFrame(int valid, int errorKind);
    void SerialPortLost();
    void ClearRawFrame();
    void RequestStop();
    void CloseReadStream();
    void JoinWorker();

    std::thread m_WorkerThread;
    std::mutex m_StateLock;      // orders Disconnect against the restart's reconnect
    bool m_bStopRequested;       // guarded by m_StateLock
    std::atomic<bool> m_bClosePending{false}; // Disconnect met a live worker: close after the join
    char m_cCaptureSource;       // m_cSource as it stood at Connect
    FILE* m_pReadStream;         // the stream this capture reads; null once closed or missing
    int64_t m_lReadLimit;        // m_lLogFileSize as it stood at Connect
    int64_t m_lReadPosition;     // worker's own copy of the stream position; -1 until known
    // The reader's own buffer: the stream is read only by the worker, a block at a time, so no
    // stream lock is taken per character. One octet past the data always holds a 0.
    static constexpr size_t LOG_READ_BLOCK = 16384;
    char m_LogBlock[LOG_READ_BLOCK + 1] = {};
    size_t m_nLogBlockPos = 0;
    size_t m_nLogBlockLength = 0;
    bool m_bBehindLine = false;       // the queue passed 510 octets, was said so, and is not yet empty
    unsigned m_nTurnsToLossCheck = 0; // worker turns left until the driver's loss counters are read
    int m_nFrameEndedInStep;     // 0 none, 1 valid, 2 damaged: what ended during this Idle step
    bool m_bOctetRead;           // the last ReadByte took an octet off the line
};

// Thread procedure of the worker; the argument is not read.
void MstpWorkerThread(void* argument);
// One Annex G CRC step each.
BYTE CalcHeaderCRC(BYTE dataValue, BYTE crcValue);
uint16_t CalcDataCRC(BYTE dataValue, uint16_t crcValue);
void DelayMs(float ms);

struct CMinMax {
    int count = 0;
    float min = 9999999.0f;
    float max = -9999999.0f;
    int reserved = 0;
};

extern CMstpStack g_MstpStack;
extern std::atomic<BYTE> g_bWorkerRunning; // non-zero while a worker is inside MstpWorkerThread
extern int g_nMstpLogFrameNumber;          // next frame number of "mstp_log.txt"
