#pragma once
// What the report writers share: paths in the report folder, opening a report file with the
// notice on failure, text building, and the title and closing pieces of every page.
#include <cstdio>
#include <string>

#include "platform/format.h"

inline constexpr const char* REPORT_RULE_LINE =
    "-------------------------------------------------------------------------------\n";

// g_strReportPath + "/" + fileName.
std::string ReportFilePath(const char* fileName);

// Opens a file of the report folder. When it cannot be opened, prints
// "FYI: File: <full path> could not be created" on standard output and returns null. Without a
// report folder (empty path) it opens nothing and prints nothing.
FILE* OpenReportFile(const char* fileName, const char* mode);
// The notice alone, for a writer that opens its files itself.
void PrintNotCreated(const std::string& path);

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
    std::string name = std::string(baseName) + ".txt";
    FILE* f = OpenReportFile(name.c_str(), "w");
    if (!f)
        return false;
    writeText(f);
    std::fclose(f);

    name = std::string(baseName) + ".html";
    f = OpenReportFile(name.c_str(), "w");
    if (!f)
        return false;
    writeHtml(f);
    std::fclose(f);
    return true;
}

// A report in the usual frame: the text file is the title lines, textBody and the text footer; the
// page is the page head, the title division, htmlBody in the pre block, and the page foot.
bool WriteFramedReport(const char* baseName, const char* title, const std::string& textBody,
                       const std::string& htmlBody);
