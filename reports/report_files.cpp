#include "reports/report_files.h"

#include <cstdarg>

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
    if (!f)
        PrintNotCreated(path);
    return f;
}

void PrintNotCreated(const std::string& path)
{
    std::printf("FYI: File: %s could not be created\n", path.c_str());
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
