#pragma once
// What the report writers share: paths in the report folder, opening a report file with the
// notice on failure, text building, and the title and closing pieces of every page.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/format.h"

inline constexpr const char* REPORT_RULE_LINE =
    "-------------------------------------------------------------------------------\n";

// g_strReportPath + "/" + fileName.
std::string ReportFilePath(const char* fileName);

// Opens a file of the report folder. When it cannot be opened, prints
// "FYI: File: <full path> could not be created" on standard output, notes the file as not written
// and returns null. Without a report folder (empty path) it opens nothing and prints nothing.
FILE* OpenReportFile(const char* fileName, const char* mode);
// The notice alone, for a writer that opens its files itself.
void PrintNotCreated(const std::string& path);
// Closes a report file. A write that failed on the way (the stream keeps its error) or a failed
// close, where a full disk often shows first, notes the file as not written; false then.
bool CloseReportFile(FILE* f, const char* fileName);

// Files of the report folder that could not be created, or are incomplete because a write or the
// close failed, as noted since the last take: each name once, in the order first noted. UI thread
// only (Start, the writers and Stop); Stop takes the list for its status text.
void NoteUnwrittenReportFile(const std::string& fileName);
std::vector<std::string> TakeUnwrittenReportFiles();

// The rule line, "\t\t\t<title>\n", the rule line.
void WriteTextTitle(FILE* f, const char* title);
// The title division (heading and paragraph) and the opening of the contents' pre block.
void WriteHtmlTitle(FILE* f, const char* heading, const char* paragraph);
// Ends the pre block, the contents and the container that the page head left open.
void WriteHtmlContentsEnd(FILE* f);

// Writes <baseName>.txt, then <baseName>.html, each opened with "w" and closed before the next.
// Stops at the first file that cannot be created; returns false then.
template <class TextWriter, class HtmlWriter>
bool WriteReportPair(const char* baseName, TextWriter&& writeText, HtmlWriter&& writeHtml)
{
    const std::string textName = std::string(baseName) + ".txt";
    const std::string htmlName = std::string(baseName) + ".html";
    FILE* f = OpenReportFile(textName.c_str(), "w");
    if (!f) {
        // The page is not attempted: whatever stands under its name is not this capture's.
        NoteUnwrittenReportFile(htmlName);
        return false;
    }
    writeText(f);
    CloseReportFile(f, textName.c_str());

    f = OpenReportFile(htmlName.c_str(), "w");
    if (!f)
        return false;
    writeHtml(f);
    CloseReportFile(f, htmlName.c_str());
    return true;
}

// A report in the usual frame: the text file is the title lines, textBody and the text footer; the
// page is the page head, the title division, htmlBody in the pre block, and the page foot.
bool WriteFramedReport(const char* baseName, const char* title, const std::string& textBody,
                       const std::string& htmlBody);
