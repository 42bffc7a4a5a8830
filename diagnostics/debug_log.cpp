#include "diagnostics/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/clock.h"
#include "platform/current_dir.h"
#include "platform/format.h"
#include "platform/message_box.h"

std::string g_strLogFilePath;
std::string g_strDebugLogFilePath;
unsigned char g_bDebugLog = 1;

namespace {

// One lock over every entry, path building included: the capture worker and the UI thread both log.
// Recursive because a dump writes its own DebugLog entry while it holds the lock.
std::recursive_mutex g_logMutex;

// Texts are formatted into a buffer that grows to fit: a text of 4096 characters or more is written
// whole rather than cut, so no entry is ever lost or left half-written.
std::string FormatText(const char* format, va_list args)
{
    std::string text;
    AppendFormatV(text, format, args);
    return text;
}

const std::string& CachedPath(std::string& cache, const char* fileName)
{
    if (cache.empty()) {
        char directory[1024];
        if (GetCurrentDirectoryA(sizeof directory, directory) > 0) {
            cache = directory;
            cache += "/";
        }
        cache += fileName;
    }
    return cache;
}

void WritePrefix(FILE* file)
{
    struct tm now{};
    GetLocalTimeNow(&now);
    std::fprintf(file, "\n[%02d-%02d-%02d %02d:%02d:%02d] ", now.tm_mday, now.tm_mon + 1, now.tm_year + 1900,
                 now.tm_hour, now.tm_min, now.tm_sec);
}

void AppendEntry(std::string& cache, const char* fileName, const std::string& text)
{
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    FILE* file = std::fopen(CachedPath(cache, fileName).c_str(), "a");
    if (!file)
        return;
    WritePrefix(file);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

void DebugLogText(const std::string& text)
{
    if (!g_bDebugLog)
        return;
    AppendEntry(g_strDebugLogFilePath, "Debuglog.txt", text);
}

void Truncate(std::string& cache, const char* fileName)
{
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    if (FILE* file = std::fopen(CachedPath(cache, fileName).c_str(), "w"))
        std::fclose(file);
}

} // namespace

void Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    {
        std::lock_guard<std::recursive_mutex> lock(g_logMutex);
        FILE* file = std::fopen(CachedPath(g_strLogFilePath, "log.txt").c_str(), "a");
        if (!file)
            return; // the mirror entry is dropped with it
        WritePrefix(file);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    DebugLogText(text);
}

void DebugLog(const char* format, ...)
{
    if (!g_bDebugLog)
        return;
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    DebugLogText(text);
}

void ClearLog()
{
    Truncate(g_strLogFilePath, "log.txt");
}

void ClearDebugLog()
{
    Truncate(g_strDebugLogFilePath, "Debuglog.txt");
}

void DebugDumpHex(const unsigned char* data, int size)
{
    if (!g_bDebugLog || !data)
        return;
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    DebugLog("Dumping memory, Size=[%d]", size);
    FILE* file = std::fopen(CachedPath(g_strDebugLogFilePath, "Debuglog.txt").c_str(), "a");
    if (!file)
        return;
    std::fprintf(file, "\nHEX:\n----------------------------------------\n");
    std::fprintf(file, "%03d\t", 0);
    int column = 1;
    for (int i = 0; i < size; ++i) {
        std::fprintf(file, "%02X ", data[i]);
        if (column == 8) {
            std::fprintf(file, "\n%03d\t", i + 1);
            column = 1;
        } else {
            ++column;
        }
    }
    std::fprintf(file, "\n\n");
    std::fclose(file);
}

void DebugDumpAscii(const unsigned char* data, int size)
{
    if (!g_bDebugLog || !data)
        return;
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    DebugLog("Dumping memory in Ascii, Size=[%d]", size);
    FILE* file = std::fopen(CachedPath(g_strDebugLogFilePath, "Debuglog.txt").c_str(), "a");
    if (!file)
        return;
    std::fprintf(file, "\n\nAscii:\n----------------------------------------\n");
    for (int i = 0; i < size; ++i)
        std::fputc(data[i], file);
    std::fprintf(file, "\n\n\n");
    std::fclose(file);
}

int MessageAndLog(int iType, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    Log("MessageAndLog iType=[%d] msg=[%s]", iType, text.c_str());
    // No lock is held while the box waits for the user.
    int result = MessageBoxA(nullptr, text.c_str(), "Message", static_cast<unsigned>(iType));
    Log("MessageAndLog return = [ %d]", result);
    return result;
}

void MessageF(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    MessageAndLog(MB_OK, "%s", text.c_str());
}

void Panic(const char* file, int line, const char* date, const char* time, const char* message)
{
    MessageF("PANIC!\r\n\r\nFile=[%s] \r\nLine=[%d]\r\nDate=[%s]\r\nTime=[%s]\r\n\r\nMessage=[%s]", file ? file : "",
             line, date ? date : "", time ? time : "", message ? message : "");
}

void ResetLogPathsForTest()
{
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    g_strLogFilePath.clear();
    g_strDebugLogFilePath.clear();
}
