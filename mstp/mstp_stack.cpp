#include "mstp/mstp_stack.h"

#include <cstdlib>
#include <cstring>

#include "diagnostics/debug_log.h"
#include "diagnostics/hires_timer.h"

// Defined before the stack, so it outlives the stack's destructor.
std::atomic<BYTE> g_bWorkerRunning{0};
CMstpStack g_MstpStack;
CMinMax g_MinMaxTokenTime, g_MinMaxReplyTime, g_MinMaxTurnTime;

namespace {
// Set on the worker thread, so the restart's Connect knows not to join or start a thread.
thread_local bool t_bOnWorker = false;

// A capture still running when the process exits is stopped and joined here, before its frame
// monitor and its log lines lose the globals they write to: registered at the first capture, after
// every global of the program has been built, the handler runs before any of them is destroyed.
void StopCaptureAtExit()
{
    g_MstpStack.WaitForWorker();
}
std::once_flag g_ExitStopRegistered;
}

CMstpStack::CMstpStack()
    : m_nLogReadState(LOG_READ_NORMAL), m_cSource(0), m_pLogFile(nullptr), m_lLogFileSize(0), m_nAverageDim(0),
      m_bNewCapture(0), DataRegister(0), DataAvailable(0), HeaderCRC(0), FrameType(0), DestinationAddress(0),
      SourceAddress(0), DataLength(0), DataCRC(0), m_bReplay(0), m_SavedFrame{}, m_nSavedFrameSize(0),
      InputBuffer{}, m_RawFrame{}, LastFrameBufferSize(0), m_nMaxDataLength(MSTP_FRAME_BUFFER_SIZE), EventCount(0),
      Index(0), TS(0), NS(0), PS(0), FrameCount(0), TokenCount(0), RetryCount(0), SoleMaster(0),
      ReceivedInvalidFrame(0), ReceivedValidFrame(0), m_nReceiveState(RECEIVE_STATE_IDLE),
      m_nMasterState(MASTER_STATE_IDLE), m_nQueueIndex(0), NextFrame(0), m_pfnDataIndication(nullptr),
      m_pfnFrameMonitor(nullptr), m_bListenOnly(0), m_bVerbose(0), m_nComPort(0), m_nBaudRate(0),
      m_nBytesWaiting(0), m_bConnected(0), m_nRestartCount(0), SilenceTimer(0.0f), Tframe_abort(100),
      Tno_token(500), Treply_timeout(300), Nmax_info_frames(1), Npoll(50), Nmax_master(MSTP_MAX_MASTER),
      Nretry_token(1), Nmin_octets(1), Tslot(10), m_nSendDelay(20), Tusage_timeout(100),
      m_nSoleMasterSilenceLimit(1000), m_lLogReadPosition(0), m_bStopRequested(false), m_cCaptureSource(0),
      m_pReadStream(nullptr), m_lReadLimit(0), m_lReadPosition(-1), m_nFrameEndedInStep(0),
      m_bOctetRead(false)
{
}

CMstpStack::~CMstpStack()
{
    // At process exit the other globals (the log paths, the port table, the report folder, the
    // statistics) may be gone already, so nothing here reaches them: only members. The capture is
    // normally over by now (the application joins it, and StopCaptureAtExit runs before any global
    // is destroyed). A worker that is somehow still there gets no frame monitor to call and is
    // joined, never left running on a destroyed object.
    m_pfnFrameMonitor.store(nullptr);
    // exit() called on the worker itself: it cannot join itself, and it ends with the process.
    if (m_WorkerThread.joinable() && m_WorkerThread.get_id() == std::this_thread::get_id())
        m_WorkerThread.detach();
    WaitForWorker();
}

void CMstpStack::RequestStop()
{
    std::lock_guard<std::mutex> lock(m_StateLock);
    m_bStopRequested = true;
    m_bConnected.store(0);
}

void CMstpStack::JoinWorker()
{
    if (t_bOnWorker)
        return;
    if (m_WorkerThread.joinable())
        m_WorkerThread.join();
    // The close that Disconnect left for the join.
    if (m_bClosePending.exchange(false))
        m_SerialPort.Close();
}

void CMstpStack::WaitForWorker()
{
    if (t_bOnWorker)
        return;
    RequestStop();
    JoinWorker();
    m_nBytesWaiting.store(0);
    m_SerialPort.Close();
    CloseReadStream();
}

void CMstpStack::CloseReadStream()
{
    // A capture stopped before the end of its log file still gives its stream back.
    if (m_pReadStream) {
        fclose(m_pReadStream);
        m_pReadStream = nullptr;
    }
}

void CMstpStack::ClearRawFrame()
{
    LastFrameBufferSize = 0;
    memset(m_RawFrame, 0, sizeof m_RawFrame);
}

BYTE CMstpStack::Connect(DataIndicationFn dataCb, int comPort, int baud, BYTE thisStation, int verbose,
                         int listenOnly)
{
    const bool onWorker = t_bOnWorker;
    if (!onWorker) {
        // Never two loops, never a loop that a late stop could cut: the old worker ends first.
        RequestStop();
        JoinWorker();
        std::lock_guard<std::mutex> lock(m_StateLock);
        m_bStopRequested = false;
        // The worker goes by its own copy of the source, so the caller may set up the next capture
        // while the last worker is still finishing its turn.
        m_cCaptureSource = m_cSource;
        // A new capture; the restart after a loss keeps counting.
        m_nOctetLossCount.store(0);
    }

    // The restart passes the same values back; not rewriting them keeps Disconnect's read of the
    // verbose flag on the UI thread free of a race.
    if (m_bVerbose != verbose)
        m_bVerbose = verbose;
    if (m_bVerbose)
        DebugLog("MSTP.FYI #100 - Reconnecting to MSTP network");
    if (m_bListenOnly != listenOnly)
        m_bListenOnly = listenOnly;

    // The restart keeps the flag up while it reconnects: nobody else sees the stack drop in between.
    if (!onWorker)
        m_bConnected.store(0);
    m_nReceiveState = RECEIVE_STATE_IDLE;
    m_nMasterState = MASTER_STATE_IDLE;
    NextFrame = 255;
    ReceivedInvalidFrame = 0;
    ReceivedValidFrame = 0;
    SoleMaster = 0;
    DataAvailable = 0;
    m_bReplay = 0;
    SilenceTimer = 0.0f;
    EventCount = 0;
    FrameCount = 0;
    TokenCount = Npoll;
    RetryCount = 0;
    Index = 0;
    FrameType = 0;
    DestinationAddress = 0;
    SourceAddress = 0;
    DataLength = 0;
    HeaderCRC = 0xFF;
    m_pfnDataIndication = nullptr;
    m_nBytesWaiting.store(0);

    {
        std::lock_guard<std::mutex> lock(m_QueueLock);
        for (MstpQueueSlot& slot : m_SendQueue) {
            memset(slot.m_Data, 0, sizeof slot.m_Data);
            slot.m_nLength = 0;
            slot.m_byDestination = 0;
        }
        m_nQueueIndex = 0;
    }

    m_nComPort = comPort;
    m_nBaudRate = baud;

    if (!dataCb) {
        if (m_bVerbose)
            DebugLog("MSTP.Error #112 - No call back function");
        m_bConnected.store(0);
        return 0;
    }
    m_pfnDataIndication = dataCb;

    if (m_cCaptureSource == SOURCE_SERIAL_PORT) {
        m_SerialPort.Close();
        if (!m_SerialPort.Open(comPort, baud, 'N', 8, 1)) {
            DebugLog("MSTP.Error #111 - Can not open the serial port ");
            m_bConnected.store(0);
            return 0;
        }
    }

    TS = thisStation;
    NS = thisStation;
    PS = thisStation;

    m_nBytesWaiting.store(0);
    ClearRawFrame();
    memset(m_SavedFrame, 0, sizeof m_SavedFrame);

    if (!onWorker && m_pReadStream && (m_cCaptureSource != SOURCE_LOG_FILE || m_pReadStream != m_pLogFile))
        CloseReadStream();
    if (!onWorker && m_cCaptureSource == SOURCE_LOG_FILE) {
        // The reader keeps its own handle and limit, so a later Browse cannot pull them away. A
        // stream it is still reading goes on where it was, with what its block holds.
        if (m_pReadStream != m_pLogFile) {
            m_pReadStream = m_pLogFile;
            m_lReadPosition = -1;
            m_nLogBlockPos = 0;
            m_nLogBlockLength = 0;
        }
        m_lReadLimit = m_lLogFileSize;
        m_lLogReadPosition.store(0);
    }
    m_bBehindLine = false;
    m_nTurnsToLossCheck = 0;

    if (m_bVerbose) {
        if (FILE* f = fopen("mstp_log.txt", "w"))
            fclose(f);
    }
    m_nLogReadState.store(LOG_READ_NORMAL);

    if (onWorker) {
        // The restart goes on in the running loop, unless a Disconnect came in meanwhile.
        std::lock_guard<std::mutex> lock(m_StateLock);
        if (!m_bStopRequested)
            m_bConnected.store(1);
        return m_bConnected.load();
    }

    if (this == &g_MstpStack)
        std::call_once(g_ExitStopRegistered, [] { std::atexit(StopCaptureAtExit); });
    m_bConnected.store(1);
    try {
        m_WorkerThread = std::thread(MstpWorkerThread, this);
    } catch (...) {
        m_bConnected.store(0);
        m_SerialPort.Close();
        return 0;
    }
    return 1;
}

void CMstpStack::SetFrameCallback(FrameMonitorFn fn)
{
    m_pfnFrameMonitor.store(fn, std::memory_order_release);
}

void CMstpStack::Disconnect()
{
    if (m_bVerbose)
        DebugLog("MSTP.FYI #101 - Disconnecting from MSTP network");
    RequestStop();
    m_nBytesWaiting.store(0);
    // With a worker alive the port is closed once it has been joined (by WaitForWorker or the next
    // Connect), never under it.
    if (!t_bOnWorker && !m_WorkerThread.joinable())
        m_SerialPort.Close();
    else
        m_bClosePending.store(true);
}

void MstpWorkerThread(void* argument)
{
    CMstpStack* stack = argument ? static_cast<CMstpStack*>(argument) : &g_MstpStack;
    BYTE idle = 0;
    if (!g_bWorkerRunning.compare_exchange_strong(idle, 1))
        return;
    t_bOnWorker = true;
    stack->WorkerLoop();
    t_bOnWorker = false;
    g_bWorkerRunning.store(0);
}

void CMstpStack::WorkerLoop()
{
    CHiResTimer timer;
    timer.Reset();
    while (m_bConnected.load(std::memory_order_acquire)) {
        timer.Tick();
        Idle();
        if (!m_bListenOnly)
            MasterNodeFSM();
        if (m_SerialPort.m_bLost)
            SerialPortLost();
        CheckInputQueue();
        if (m_nBytesWaiting.load(std::memory_order_relaxed) == 0)
            std::this_thread::yield();
        timer.Tick();
        SilenceTimer += timer.GetLapSeconds() * 1000.0f;
    }
}

// A long input queue is said once each time it passes 510 octets, and worked off one octet per turn:
// the driver holds far more, so nothing is lost by falling behind for a while. The driver hands on
// what it holds in bursts, so the queue may pass 510 again before the worker has caught up: that is
// the same fall behind, said once. Only the driver knows when octets were lost (its overrun
// counters); then the frame in progress is broken and the port is restarted.
void CMstpStack::CheckInputQueue()
{
    const uint32_t waiting = m_nBytesWaiting.load(std::memory_order_relaxed);
    if (waiting > static_cast<uint32_t>(MSTP_FRAME_BUFFER_SIZE)) {
        if (!m_bBehindLine) {
            m_bBehindLine = true;
            DebugLog("MSTP.Error #110 - Too many bytes in the buffer %d", static_cast<int>(waiting));
            DebugLog("MSTP.FYI #35 - Not enough resources available, close down some other applications for "
                     "better performance.\n");
            printf("MSTP.FYI #35 - Not enough resources available, close down some other applications for better "
                   "performance.\n");
        }
    } else if (waiting == 0) {
        m_bBehindLine = false; // caught up
    }
    // The counters are a system call away: read them every few dozen turns, a few milliseconds of
    // line time at most.
    if (m_cCaptureSource != SOURCE_SERIAL_PORT || m_nTurnsToLossCheck-- > 0)
        return;
    m_nTurnsToLossCheck = 63;
    if (m_SerialPort.OctetsLost()) {
        m_nOctetLossCount.fetch_add(1);
        DumpInputBuffer();
    }
}

// The device failed under the capture (a USB adapter pulled out): polling it further would spin
// without end and show nothing. Said once, the port is let go and the worker ends; what was
// captured stays, and stopping the capture writes the reports as usual.
void CMstpStack::SerialPortLost()
{
    DebugLog("MSTP.Error #114 - The serial port stopped working (unplugged?), no more octets can be read");
    m_SerialPort.Close();
    m_nBytesWaiting.store(0);
    m_bConnected.store(0);
}

void CMstpStack::Idle()
{
    if (!m_bConnected.load(std::memory_order_relaxed))
        return;
    m_nFrameEndedInStep = 0;
    if (m_bReplay) {
        DataAvailable = 0;
        ReceiveFrameFSM();
        return;
    }
    uint32_t waiting = (m_cCaptureSource == SOURCE_LOG_FILE) ? 1u : m_SerialPort.GetBytesWaiting();
    m_nBytesWaiting.store(waiting, std::memory_order_relaxed);
    if (waiting >= 1) {
        DataAvailable = 1;
        SilenceTimer = 0.0f;
        ReceiveFrameFSM();
        // Only a frame that ended just now is judged by its address: a flag left from an earlier
        // broadcast must not cut the frame now arriving.
        if (m_nFrameEndedInStep == 1 && ReceivedValidFrame && DestinationAddress != TS &&
            DestinationAddress != MSTP_BROADCAST) {
            ReceivedValidFrame = 0;
            m_nReceiveState = RECEIVE_STATE_IDLE;
            return;
        }
    } else {
        DataAvailable = 0;
    }
    if (ReceivedInvalidFrame) {
        if (m_bVerbose)
            DebugLog("MSTP.FYI #102 - ReceivedInvalidFrame");
        ReceivedInvalidFrame = 0;
        // A flag left by a replay step is cleared but does not cut the frame in progress.
        if (m_nFrameEndedInStep == 2)
            m_nReceiveState = RECEIVE_STATE_IDLE;
    }
}

void CMstpStack::DumpInputBuffer()
{
    if (!m_bConnected.load())
        return;
    m_nRestartCount.fetch_add(1);
    if (m_bVerbose)
        DebugLog("MSTP.FYI Dumping input buffer");
    if (!Connect(m_pfnDataIndication, m_nComPort, m_nBaudRate, TS, m_bVerbose, m_bListenOnly)) {
        if (m_bVerbose)
            DebugLog("MSTP.Error #109 - Could not restart the comms");
    }
}

namespace {

// White space before an octet, as scanf skips it.
const char* const kLogSpace = " \t\n\v\f\r";

inline int HexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

// The next character of the log without taking it; EOF at the end of the data (or a failed read).
int CMstpStack::PeekLogChar()
{
    if (m_nLogBlockPos == m_nLogBlockLength) {
        m_nLogBlockLength = fread(m_LogBlock, 1, LOG_READ_BLOCK, m_pReadStream);
        m_nLogBlockPos = 0;
        m_LogBlock[m_nLogBlockLength] = '\0';
        if (m_nLogBlockLength == 0)
            return EOF;
    }
    return static_cast<unsigned char>(m_LogBlock[m_nLogBlockPos]);
}

// One octet from the captured log: white space, then one or two hex digits. FALSE when no octet is
// taken: at the end of the data, past the measured size, or at text that is not hex; each of these
// closes the stream once and for all.
BOOL CMstpStack::ReadLogOctet()
{
    int state = m_nLogReadState.load(std::memory_order_relaxed);
    if (state != LOG_READ_NORMAL)
        return FALSE;
    FILE* stream = m_pReadStream;
    if (!stream) {
        m_nLogReadState.store(LOG_READ_OPEN_FAILED);
        return FALSE;
    }
    if (m_lReadPosition < 0) {
        off_t start = ftello(stream);
        m_lReadPosition = start < 0 ? 0 : static_cast<int64_t>(start);
    }

    // A run of white space is skipped a block at a time; the 0 after the block ends each run (a 0
    // inside the data is no white space either, and is judged below like any other character).
    int c;
    while ((c = PeekLogChar()) != EOF) {
        const size_t run = strspn(m_LogBlock + m_nLogBlockPos, kLogSpace);
        m_nLogBlockPos += run;
        m_lReadPosition += static_cast<int64_t>(run);
        if (m_nLogBlockPos < m_nLogBlockLength) {
            c = static_cast<unsigned char>(m_LogBlock[m_nLogBlockPos]);
            break;
        }
    }
    int endState = LOG_READ_NORMAL;
    int value = (c == EOF) ? -1 : HexValue(c);
    if (c == EOF) {
        endState = LOG_READ_COMPLETED;
    } else {
        if (value >= 0) {
            ++m_nLogBlockPos;
            ++m_lReadPosition;
            const int next = PeekLogChar();
            const int low = (next == EOF) ? -1 : HexValue(next);
            if (low >= 0) {
                value = value * 16 + low;
                ++m_nLogBlockPos;
                ++m_lReadPosition;
            }
        }
        // Past the measured length the file grew after it was chosen: what was measured has been
        // read whole, whatever the text that follows, so the capture is complete, not rejected.
        if (m_lReadPosition > m_lReadLimit)
            endState = LOG_READ_COMPLETED;
        else if (value < 0)
            endState = LOG_READ_NOT_LOG_FILE;
    }
    m_lLogReadPosition.store(m_lReadPosition, std::memory_order_relaxed);
    if (endState != LOG_READ_NORMAL) {
        fclose(stream);
        m_pReadStream = nullptr;
        m_nLogReadState.store(endState, std::memory_order_release);
        return FALSE;
    }
    DataRegister = static_cast<BYTE>(value);
    return TRUE;
}

BYTE CMstpStack::ReadByte()
{
    m_bOctetRead = false;
    uint32_t waiting = m_SerialPort.GetBytesWaiting();
    m_nBytesWaiting.store(waiting, std::memory_order_relaxed);
    if (waiting == 0)
        return 0x00;
    BYTE octet = 0;
    int nBytesRead = m_SerialPort.ReadData(&octet, 1);
    if (nBytesRead == 1) {
        m_bOctetRead = true;
        DataAvailable = 1;
        m_nBytesWaiting.store(waiting - 1, std::memory_order_relaxed);
        if (LastFrameBufferSize < static_cast<uint32_t>(MSTP_FRAME_BUFFER_SIZE))
            m_RawFrame[LastFrameBufferSize++] = octet;
        return octet;
    }
    DataAvailable = 0;
    DebugLog("Programing bug, file: %s (%d)\nError: %s", __FILE__, __LINE__, "nBytesRead != 1");
    return 0x00;
}

BOOL CMstpStack::Resync(BYTE* frame)
{
    const uint32_t n = LastFrameBufferSize;
    // Octets 0 and 1 are the damaged frame's own preamble.
    for (uint32_t i = 2; i < n; ++i) {
        if (frame[i] == 0x55 && (i == n - 1 || frame[i + 1] == 0xFF)) {
            memmove(frame, frame + i, n - i);
            memcpy(m_SavedFrame, frame, n - i);
            LastFrameBufferSize = n - i;
            m_nSavedFrameSize = n - i;
            return TRUE;
        }
    }
    return FALSE;
}

void CMstpStack::ReportFrame(int valid, int errorKind)
{
    FrameMonitorFn monitor = m_pfnFrameMonitor.load(std::memory_order_acquire);
    if (!monitor)
        return;
    if (!m_bReplay) {
        monitor(m_RawFrame, LastFrameBufferSize, SourceAddress, DestinationAddress, valid, errorKind);
        if (errorKind == FRAME_ERROR_HEADER_CRC || errorKind == FRAME_ERROR_DATA_CRC) {
            if (Resync(m_RawFrame))
                m_bReplay = 1;
            else if (errorKind == FRAME_ERROR_HEADER_CRC)
                ClearRawFrame();
        } else {
            ClearRawFrame();
        }
        return;
    }
    // The replay copy holds this frame from its opening 0x55, then the octets not yet replayed.
    monitor(m_SavedFrame, m_nSavedFrameSize - LastFrameBufferSize, SourceAddress, DestinationAddress, valid,
            errorKind);
    memcpy(m_SavedFrame, m_RawFrame, LastFrameBufferSize);
    m_nSavedFrameSize = LastFrameBufferSize;
}

void CMstpStack::ReceiveFrameFSM()
{
    if (!m_bConnected.load(std::memory_order_relaxed))
        return;
    if (m_bListenOnly != 1 && SilenceTimer > static_cast<float>(Tframe_abort) &&
        m_nReceiveState != RECEIVE_STATE_IDLE) {
        if (m_bVerbose)
            DebugLog("MSTP.FYI #103 - Timeout");
        m_nReceiveState = RECEIVE_STATE_IDLE;
        return;
    }

    if (DataAvailable && !m_bReplay) {
        if (m_cCaptureSource == SOURCE_LOG_FILE) {
            if (!ReadLogOctet())
                return;
            SilenceTimer = 0.0f;
            if (LastFrameBufferSize < static_cast<uint32_t>(MSTP_FRAME_BUFFER_SIZE))
                m_RawFrame[LastFrameBufferSize++] = DataRegister;
        } else {
            DataRegister = ReadByte();
            if (!m_bOctetRead) {
                // Nothing came off the line (a failed read, a device gone): feeding the 0x00 in
                // its place would make up a header or data octet, or report a frame of one octet.
                DataAvailable = 0;
                return;
            }
            SilenceTimer = 0.0f;
        }
    } else if (m_bReplay) {
        if (m_bVerbose)
            DebugLog("MSTP.Error #150 - process buffered frame in invalid message");
        DataRegister = m_RawFrame[0];
        memmove(m_RawFrame, m_RawFrame + 1, MSTP_FRAME_BUFFER_SIZE - 1);
        if (LastFrameBufferSize > 0)
            --LastFrameBufferSize;
        if (LastFrameBufferSize == 0) {
            // Replay ends: a frame still open carries on from the replay copy with new octets.
            memcpy(m_RawFrame, m_SavedFrame, m_nSavedFrameSize);
            LastFrameBufferSize = m_nSavedFrameSize;
            m_bReplay = 0;
        }
    } else {
        return;
    }

    const BYTE octet = DataRegister;
    auto consume = [this](bool count) {
        DataAvailable = 0;
        SilenceTimer = 0.0f;
        if (count)
            ++EventCount;
    };

    switch (m_nReceiveState) {
    case RECEIVE_STATE_IDLE:
        if (octet == 0x55) {
            consume(true);
            if (!m_bReplay) {
                m_RawFrame[0] = 0x55;
                LastFrameBufferSize = 1;
            } else {
                m_SavedFrame[0] = 0x55;
                memcpy(m_SavedFrame + 1, m_RawFrame, LastFrameBufferSize);
                m_nSavedFrameSize = LastFrameBufferSize + 1;
            }
            m_nReceiveState = RECEIVE_STATE_PREAMBLE;
        } else if (m_bVerbose) {
            DebugLog("MSTP.EatAnOctet, DataRegister=[%02X]", octet);
        }
        break;

    case RECEIVE_STATE_PREAMBLE:
        if (octet == 0x55) {
            if (m_bVerbose)
                DebugLog("MSTP.RepeatedPreamble1, DataRegister=[%02X]", octet);
            consume(true);
        } else if (octet == 0xFF) {
            consume(true);
            Index = 0;
            HeaderCRC = 0xFF;
            m_nReceiveState = RECEIVE_STATE_HEADER;
        } else {
            consume(true);
            m_nReceiveState = RECEIVE_STATE_IDLE;
            ReportFrame(0, FRAME_ERROR_NOT_FRAME_START);
        }
        break;

    case RECEIVE_STATE_HEADER:
        consume(true);
        HeaderCRC = CalcHeaderCRC(octet, HeaderCRC);
        if (Index < 5) {
            switch (Index) {
            case 0: FrameType = octet; break;
            case 1: DestinationAddress = octet; break;
            case 2: SourceAddress = octet; break;
            case 3: DataLength = static_cast<uint16_t>(octet * 256); break;
            default: DataLength = static_cast<uint16_t>(DataLength + octet); break;
            }
            ++Index;
            break;
        }
        m_nReceiveState = RECEIVE_STATE_IDLE;
        if (HeaderCRC != 0x55) {
            if (m_bVerbose) {
                DebugLog("MSTP.Error. BadCRC, HeaderCRC=[%02X] != 0x55", HeaderCRC);
                DebugLog("            Source=[0x%02X] Dest=[0x%02X]", SourceAddress, DestinationAddress);
            }
            ReceivedInvalidFrame = 1;
            m_nFrameEndedInStep = 2;
            ReportFrame(0, FRAME_ERROR_HEADER_CRC);
        } else if (!m_pfnFrameMonitor.load(std::memory_order_acquire) && SourceAddress == TS) {
            if (m_bVerbose)
                DebugLog("MSTP.LoopBack, Type=[%02X] SourceAddress=[%02X] DestinationAddress=[%02X] TS=[%02X]",
                         FrameType, SourceAddress, DestinationAddress, TS);
            ReceivedValidFrame = 0;
        } else if (!m_pfnFrameMonitor.load(std::memory_order_acquire) && DestinationAddress != TS &&
                   DestinationAddress != MSTP_BROADCAST) {
            if (m_bVerbose)
                DebugLog("MSTP.NotForUs, Type=[%02X] SourceAddress=[%02X] DestinationAddress=[%02X]", FrameType,
                         SourceAddress, DestinationAddress);
            ReceivedValidFrame = 0;
        } else if (DataLength > m_nMaxDataLength) {
            if (m_bVerbose)
                DebugLog("MSTP.FYI #106 - FrameTooLong, DataLength=[%d]", DataLength);
            ReceivedInvalidFrame = 1;
            m_nFrameEndedInStep = 2;
            ReportFrame(0, FRAME_ERROR_TOO_LONG);
        } else if (DataLength == 0) {
            ReceivedValidFrame = 1;
            m_nFrameEndedInStep = 1;
            ReportFrame(1, FRAME_ERROR_NONE);
        } else {
            Index = 0;
            DataCRC = 0xFFFF;
            m_nReceiveState = RECEIVE_STATE_DATA;
        }
        break;

    case RECEIVE_STATE_DATA:
        consume(false);
        DataCRC = CalcDataCRC(octet, DataCRC);
        if (Index < DataLength) {
            InputBuffer[Index] = octet;
            ++Index;
        } else if (Index == DataLength) {
            ++Index;
        } else {
            m_nReceiveState = RECEIVE_STATE_IDLE;
            if (DataCRC != 0xF0B8) {
                if (m_bVerbose)
                    DebugLog("MSTP.BadCRC, DataCRC=[%04X] != 0xF0B8", DataCRC);
                ReceivedInvalidFrame = 1;
                m_nFrameEndedInStep = 2;
                ReportFrame(0, FRAME_ERROR_DATA_CRC);
            } else {
                ReceivedValidFrame = 1;
                m_nFrameEndedInStep = 1;
                ReportFrame(1, FRAME_ERROR_NONE);
            }
        }
        break;

    default:
        break;
    }
}

// Header CRC of ASHRAE 135 Annex G: x^8 + x^7 + 1, least significant bit first.
BYTE CalcHeaderCRC(BYTE dataValue, BYTE crcValue)
{
    unsigned crc = crcValue ^ dataValue;
    crc = crc ^ (crc << 1) ^ (crc << 2) ^ (crc << 3) ^ (crc << 4) ^ (crc << 5) ^ (crc << 6) ^ (crc << 7);
    return static_cast<BYTE>((crc & 0xFE) ^ ((crc >> 8) & 1));
}

// Data CRC of ASHRAE 135 Annex G: CRC-CCITT x^16 + x^12 + x^5 + 1, least significant bit first.
uint16_t CalcDataCRC(BYTE dataValue, uint16_t crcValue)
{
    unsigned crcLow = (crcValue & 0xFF) ^ dataValue;
    return static_cast<uint16_t>((crcValue >> 8) ^ (crcLow << 8) ^ (crcLow << 3) ^ (crcLow << 12) ^ (crcLow >> 4) ^
                                 (crcLow & 0x0F) ^ ((crcLow & 0x0F) << 7));
}

void DelayMs(float ms)
{
    CHiResTimer timer;
    timer.Reset();
    while (ms > 0.0f) {
        timer.Tick();
        ms -= timer.GetLapSeconds() * 1000.0f;
    }
}
