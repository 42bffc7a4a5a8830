#pragma once
// Time-stamped diagnostic log files in the working directory: "Debuglog.txt" and "log.txt".
// Every entry is opened, appended and closed within its call. Safe to call from any thread.
#include <string>

extern std::string g_strLogFilePath;
extern std::string g_strDebugLogFilePath;
extern unsigned char g_bDebugLog;

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ClearLog();
void ClearDebugLog();
void DebugDumpHex(const unsigned char* data, int size);
void DebugDumpAscii(const unsigned char* data, int size);
int MessageAndLog(int iType, const char* format, ...) __attribute__((format(printf, 2, 3)));
void MessageF(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Panic(const char* file, int line, const char* date, const char* time, const char* message);

// Forgets both cached paths, so the next entry fixes them anew (tests only).
void ResetLogPathsForTest();
