#pragma once
// Globals of the capture run control and the report folder name rule.
#include <cstdint>
#include <string>

#include "platform/win_types.h"

extern BYTE g_bStopped;
extern int g_nProgress;
extern int g_nComPort;
extern int g_nBaudRate;
extern BYTE g_byThisStation;
extern char g_szCurrentDir[1024];
extern char g_szTimeStamp[24];
extern char g_szReportFolder[256];
extern std::string g_strPath;
// g_strReportPath itself lives with the statistics (reports/statistics.h).

// The longest project name: the folder name (name and the 22-character stamp) must fit a file name.
constexpr size_t MAX_PROJECT_NAME_LENGTH = 255 - 22;

// The progress bar's position for a log file read up to position of size bytes: 0 to 100, truncated;
// 0 for a size of 0. Sizes and positions pass 2 GiB.
int LogReadProgress(int64_t position, int64_t size);

// Why a project name cannot name a folder directly in the working directory; nullptr when it can.
const char* ProjectNameRefusal(const char* projectName);

// The folder name: the project name followed by the stamp " [dd-mm-yyyy hh-mm-ss]".
std::string ReportFolderName(const char* projectName, const char* stamp);

// The four report assets copied from the working directory into every report folder, in order.
extern const char* const g_pszReportAssets[4];
