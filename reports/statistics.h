#pragma once
// The per-station tables and capture-wide figures the frame monitor fills frame by frame and the
// report writers read at Stop. No frame is kept in memory: everything the reports need lives here.
//
// Threads: the UI thread allocates and resets everything before the MS/TP worker starts, only the
// worker writes during a capture, and the UI thread reads after the worker has been joined.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win_types.h"

#include "mstp/mstp_stack.h"

// Averaging blocks per station, out-of-turn stamps kept per station, and the size of one capture
// stamp buffer (" [dd-mm-yyyy hh:mm:ss:mmm]" is 27 characters; the rest is headroom).
inline constexpr int AVERAGE_BLOCK_COUNT = 10;
inline constexpr int OUT_OF_TURN_STAMP_COUNT = 5;
inline constexpr int CAPTURE_STAMP_SIZE = 29;

// One record per MAC address 0 to 254; 255 (broadcast) has none.
struct DeviceRecord {
    BYTE m_bPresent;        // sent a Token, or answered while awaited
    BYTE m_bMaster;         // sent a Token
    BYTE m_bSlave;          // answered while awaited
    BYTE m_bAwaitingReply;  // addressed by a request and not yet seen present
    BYTE m_bBrokeSequence;  // sent a frame out of turn
    char m_szOutOfTurnStamp[OUT_OF_TURN_STAMP_COUNT][CAPTURE_STAMP_SIZE]; // [0] the newest
    int m_nOutOfTurnCount;
    int m_nFrameCount[8][2];                    // [type][0] sent, [type][1] addressed to it
    int m_nReceivedFrom[MSTP_STATION_COUNT];    // data frames from each peer, bad data CRC not counted
    int m_nSentTo[MSTP_STATION_COUNT];          // data frames to each peer, same rule
    char m_szBlockStamp[AVERAGE_BLOCK_COUNT][CAPTURE_STAMP_SIZE];
};

// Token timing of one station, in milliseconds; times are within the hour of the capture clock.
struct TokenTiming {
    int m_nLastPassTime;     // previous Token sent; 0 = none yet
    int m_nPassTime;         // Token being sent now
    int m_nLongestBetween;
    int m_nSumBetween;       // open block
    int m_nShortestBetween;
    int m_nLongestHold;
    int m_nSumHold;          // open block
    int m_nShortestHold;     // 0 = not yet set
    int m_nPreviousHold;     // 0 = none yet
};

class CNetworkStatistics {
public:
    BYTE m_byEffectiveMaxMaster;          // highest destination of any Poll For Master
    BYTE m_byTopMaster;                   // highest source of any Token
    int m_bPolled[MSTP_STATION_COUNT];
    int m_bTopMasterAbnormal;             // set by the effective max master report
    int64_t m_liStartCount;               // performance counter at Start
    int64_t m_liFrequency;                // counts per second
    int64_t m_liNowCount;                 // counter of the current frame
    float m_fElapsedSeconds;
    int m_nStartYear, m_nStartMonth, m_nStartDay, m_nStartHour, m_nStartMinute, m_nStartSecond,
        m_nStartMillisecond;
    int m_nYear, m_nMonth, m_nDay, m_nHour, m_nMinute, m_nSecond, m_nMillisecond;
    TokenTiming m_TokenTiming[MSTP_STATION_COUNT];
    int m_nBetweenCount[MSTP_STATION_COUNT];
    int m_nBetweenAverage[MSTP_STATION_COUNT][AVERAGE_BLOCK_COUNT];
    int m_nHoldCount[MSTP_STATION_COUNT];
    int m_nHoldAverage[MSTP_STATION_COUNT][AVERAGE_BLOCK_COUNT];
    int m_nTokenReceivedTime[MSTP_STATION_COUNT];

    // Clears everything but the elapsed seconds and the start and capture clock fields.
    void Reset();
};

// Text pieces of the raw-log line being written.
struct FrameText {
    char m_szStamp[CAPTURE_STAMP_SIZE];
    char m_szSource[14];
    char m_szDestination[14];
    char m_szType[40];

    void ClearAddressText();
};

extern DeviceRecord* g_pDevices;          // MSTP_STATION_COUNT records; null until allocated
extern int g_nBetweenBlockIndex[MSTP_STATION_COUNT];
extern int g_nHoldBlockIndex[MSTP_STATION_COUNT];
extern BYTE g_byTokenHolder;              // destination of the latest Token
extern char g_szCreatedOn[24];            // time of the latest HTML page head
extern FrameText g_FrameText;
extern BYTE g_bResetTokenState;           // first frame of a capture seen; the statistics reset
extern int g_nFrameCounter;               // number of the next raw-log line, 0 to 999999
extern int g_bWriteRawHeader;             // Raw_mstp_frames.txt header still to be written
extern int g_bFirstFrame;                 // no frame has yet gone through the out-of-turn test
extern CNetworkStatistics g_NetworkStatistics;

// Full path of the report folder; set by Start, read by every writer ("<path>/<file name>").
extern std::string g_strReportPath;

// Allocates and zeroes the device table (a message box when memory is short; g_pDevices stays null),
// then clears the block indexes and the frame text's source. A table still allocated is freed first.
void AllocateDeviceTable();
// Frees the table; g_pDevices becomes null.
void FreeDeviceTable();

// Tests replace malloc to see the allocation fail; nullptr restores malloc.
using DeviceTableAllocator = void* (*)(size_t);
void SetDeviceTableAllocatorForTest(DeviceTableAllocator allocate);

// Two hex characters (0-9, A-F) to an octet.
BYTE HexPairToByte(const char* pair);
