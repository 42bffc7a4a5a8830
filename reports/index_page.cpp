#include <cstdio>

#include "reports/page_template.h"
#include "reports/report_files.h"
#include "reports/report_writers.h"
#include "reports/statistics.h"

void WriteIndexPage()
{
    FILE* f = OpenReportFile("index.html", "w");
    if (!f)
        return;
    const char* title = "Index of Report File";
    WriteHtmlHead(f, title);
    WriteHtmlTitle(f, title, "");
    std::fprintf(f, "<IMG SRC=\"link_icon.gif\"><A HREF=\"Raw_mstp_frames.html\">Raw mstp frames Report File</A><br>");
    std::fprintf(f, "<IMG SRC=\"link_icon.gif\"><A HREF=\"Effective_max_master_report.html\">Effective max master "
                    "Report File</A><br>");
    std::fprintf(f, "<IMG SRC=\"link_icon.gif\"><A HREF=\"Who_talks_to_who_report.html\">Who talks to who Report "
                    "File</A><br>");
    std::fprintf(f, "<IMG SRC=\"link_icon.gif\"><A HREF=\"MAC_add_report.html\">MAC address Report File</A><br>");
    std::fprintf(f, "Device Operate Report Files<br>");
    CloseReportFile(f, "index.html");
}

void FinishIndexPage()
{
    FILE* f = OpenReportFile("index.html", "a+");
    if (!f)
        return;
    std::fprintf(f, "<IMG SRC=\"link_icon.gif\"><A HREF=\"Notes_report.html\">Notes File</A><br>");
    WriteHtmlContentsEnd(f);
    WriteHtmlFoot(f);
    CloseReportFile(f, "index.html");
}
