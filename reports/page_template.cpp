#include "reports/page_template.h"

#include "build_config.h"
#include "reports/capture_clock.h"
#include "reports/statistics.h"

#define WEB_SITE "http://" QUORIX_WEB_HOST "/"

void WriteHtmlHead(FILE* f, const char* title)
{
    FormatTimestamp(g_szCreatedOn, 0);
    std::fprintf(f, "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
                    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">");
    std::fprintf(f, "<html xmlns=\"http://www.w3.org/1999/xhtml\">");
    std::fprintf(f, "<head>");
    std::fprintf(f, "<title>%s</title>", title);
    std::fprintf(f, "<link rel=\"StyleSheet\" href=\"style.css\" type=\"text/css\" />");
    std::fprintf(f, "<meta name=\"generator\" content=\"Quorix, %s\" />", REPORT_VERSION_TEXT);
    std::fprintf(f, "</head>");
    std::fprintf(f, "<body>");
    std::fprintf(f, "\t<div id='heading'>");
    std::fprintf(f, "\t<div id='info'>Created by: <a href='__UTILITY_URL__'>Quorix</a>, %s<br />Created on: %s<br /></div>",
                 REPORT_VERSION_TEXT, g_szCreatedOn);
    // Self-closed so that the page stays well-formed XHTML.
    std::fprintf(f, "\t<a href='" WEB_SITE "'><img src='logo.gif' alt='Vantrel web site' /></a>");
    std::fprintf(f, "\t</div>");
    std::fprintf(f, "\t<div id='nav'></div>");
    std::fprintf(f, "\t<div id='container'>");
}

void WriteHtmlFoot(FILE* f)
{
    std::fprintf(f, "\t<div id='footer'>");
    std::fprintf(f, "\t\tCreated by: <a href='__UTILITY_URL__'>Quorix</a>, %s<br />", REPORT_VERSION_TEXT);
    std::fprintf(f, "\t\tCreated on: %s<br />", g_szCreatedOn);
    std::fprintf(f, "\t\t<a href='" WEB_SITE "'> Vantrel</a><br />");
    std::fprintf(f, "\t\t<a href='" WEB_SITE "contact'>Conact us</a>");
    std::fprintf(f, "\t</div>\t");
    std::fprintf(f, "</body>");
    std::fprintf(f, "</html>");
}

void WriteTextFooter(FILE* f)
{
    char now[24];
    FormatTimestamp(now, 0);
    std::fprintf(f, "\n\n\t\"Created by Quorix %s, a tool of Vantrel\"\n\t%s\n", REPORT_VERSION_TEXT, now);
}
