#include "reports/report_files.h"

#include <algorithm>
#include <cstdarg>
#include <utility>

#include "reports/page_template.h"
#include "reports/statistics.h"

std::string ReportFilePath(const char* fileName)
{
    return g_strReportPath + "/" + fileName;
}

FILE* OpenReportFile(const char* fileName, const char* mode)
{
    // Before any Start there is no folder; the bare file name would land at the file system's root.
    if (g_strReportPath.empty())
        return nullptr;
    std::string path = ReportFilePath(fileName);
    FILE* f = std::fopen(path.c_str(), mode);
    if (!f) {
        PrintNotCreated(path);
        NoteUnwrittenReportFile(fileName);
    }
    return f;
}

void PrintNotCreated(const std::string& path)
{
    std::printf("FYI: File: %s could not be created\n", path.c_str());
}

bool CloseReportFile(FILE* f, const char* fileName)
{
    const bool writesFailed = std::ferror(f) != 0;
    const bool closeFailed = std::fclose(f) != 0;
    if (writesFailed || closeFailed) {
        NoteUnwrittenReportFile(fileName);
        return false;
    }
    return true;
}

namespace {
std::vector<std::string> g_unwrittenReportFiles;
} // namespace

void NoteUnwrittenReportFile(const std::string& fileName)
{
    if (std::find(g_unwrittenReportFiles.begin(), g_unwrittenReportFiles.end(), fileName) ==
        g_unwrittenReportFiles.end())
        g_unwrittenReportFiles.push_back(fileName);
}

std::vector<std::string> TakeUnwrittenReportFiles()
{
    return std::exchange(g_unwrittenReportFiles, {});
}

void WriteTextTitle(FILE* f, const char* title)
{
    std::fprintf(f, "%s\t\t\t%s\n%s", REPORT_RULE_LINE, title, REPORT_RULE_LINE);
}

void WriteHtmlTitle(FILE* f, const char* heading, const char* paragraph)
{
    std::fprintf(f, "\t<div id='title'>");
    std::fprintf(f, "\t<h1>%s</h1>", heading);
    std::fprintf(f, "\t<p>%s</p>", paragraph);
    std::fprintf(f, "\t</div>");
    std::fprintf(f, "\t<div id='contents'><pre>");
}

void WriteHtmlContentsEnd(FILE* f)
{
    std::fprintf(f, "\t</pre></div>");
    std::fprintf(f, "\t</div>");
}

bool WriteFramedReport(const char* baseName, const char* title, const std::string& textBody,
                       const std::string& htmlBody)
{
    return WriteReportPair(
        baseName,
        [&](FILE* f) {
            WriteTextTitle(f, title);
            std::fputs(textBody.c_str(), f);
            WriteTextFooter(f);
        },
        [&](FILE* f) {
            WriteHtmlHead(f, title);
            WriteHtmlTitle(f, title, "");
            std::fputs(htmlBody.c_str(), f);
            WriteHtmlContentsEnd(f);
            WriteHtmlFoot(f);
        });
}
