#include "reports/statistics.h"

#include <cstdlib>
#include <cstring>

#include "platform/message_box.h"

DeviceRecord* g_pDevices = nullptr;
int g_nBetweenBlockIndex[MSTP_STATION_COUNT];
int g_nHoldBlockIndex[MSTP_STATION_COUNT];
BYTE g_byTokenHolder = 0;
char g_szCreatedOn[24];
FrameText g_FrameText;
BYTE g_bResetTokenState = 0;
int g_nFrameCounter = 0;
int g_bWriteRawHeader = 1;
int g_bFirstFrame = 1;
CNetworkStatistics g_NetworkStatistics;
std::string g_strReportPath;

namespace {
DeviceTableAllocator g_pfnAllocate = std::malloc;
}

void SetDeviceTableAllocatorForTest(DeviceTableAllocator allocate)
{
    g_pfnAllocate = allocate ? allocate : std::malloc;
}

void CNetworkStatistics::Reset()
{
    m_byEffectiveMaxMaster = 0;
    m_byTopMaster = 0;
    std::memset(m_bPolled, 0, sizeof m_bPolled);
    m_bTopMasterAbnormal = 0;
    m_liStartCount = 0;
    m_liFrequency = 0;
    m_liNowCount = 0;
    std::memset(m_TokenTiming, 0, sizeof m_TokenTiming);
    std::memset(m_nBetweenCount, 0, sizeof m_nBetweenCount);
    std::memset(m_nBetweenAverage, 0, sizeof m_nBetweenAverage);
    std::memset(m_nHoldCount, 0, sizeof m_nHoldCount);
    std::memset(m_nHoldAverage, 0, sizeof m_nHoldAverage);
    std::memset(m_nTokenReceivedTime, 0, sizeof m_nTokenReceivedTime);
}

void FrameText::ClearAddressText()
{
    std::memset(m_szSource, 0, sizeof m_szSource);
}

void AllocateDeviceTable()
{
    // A table left over from a capture that never reached Stop would otherwise leak.
    FreeDeviceTable();
    void* block = g_pfnAllocate(sizeof(DeviceRecord) * MSTP_STATION_COUNT);
    if (!block) {
        MessageBoxA(nullptr, "Error: Not enough memory available could not allocate memory for program.", nullptr,
                    MB_OK);
    } else {
        std::memset(block, 0, sizeof(DeviceRecord) * MSTP_STATION_COUNT);
        g_pDevices = static_cast<DeviceRecord*>(block);
    }
    std::memset(g_nBetweenBlockIndex, 0, sizeof g_nBetweenBlockIndex);
    std::memset(g_nHoldBlockIndex, 0, sizeof g_nHoldBlockIndex);
    g_FrameText.ClearAddressText();
}

void FreeDeviceTable()
{
    std::free(g_pDevices);
    g_pDevices = nullptr;
}

BYTE HexPairToByte(const char* pair)
{
    auto nibble = [](char c) { return c < 'A' ? c - '0' : c - 'A' + 10; };
    return static_cast<BYTE>((nibble(pair[0]) * 16 + nibble(pair[1])) & 0xFF);
}
