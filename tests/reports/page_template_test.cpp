#include <cstdio>
#include <string>

#include "build_config.h"
#include "reports/page_template.h"
#include "reports_fixture.h"

using namespace reports_test;

namespace {

class PageTemplateTest : public ReportsTest {
protected:
    template <class Write>
    std::string Written(Write&& write)
    {
        std::string path = Path("page.html");
        FILE* f = std::fopen(path.c_str(), "w");
        EXPECT_NE(f, nullptr);
        write(f);
        std::fclose(f);
        return ReadFile(path);
    }
};

const std::string kSite = std::string("http://") + QUORIX_WEB_HOST + "/";

std::string ExpectedHead(const std::string& title, const std::string& createdOn)
{
    return "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
           "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\">"
           "<head>"
           "<title>" + title + "</title>"
           "<link rel=\"StyleSheet\" href=\"style.css\" type=\"text/css\" />"
           "<meta name=\"generator\" content=\"Quorix, v1.1.0\" />"
           "</head>"
           "<body>"
           "\t<div id='heading'>"
           "\t<div id='info'>Created by: <a href='__UTILITY_URL__'>Quorix</a>, v1.1.0<br />Created on: " +
           createdOn + "<br /></div>"
           "\t<a href='" + kSite + "'><img src='logo.gif' alt='Vantrel web site' /></a>"
           "\t</div>"
           "\t<div id='nav'></div>"
           "\t<div id='container'>";
}

std::string ExpectedFoot(const std::string& createdOn)
{
    return "\t<div id='footer'>"
           "\t\tCreated by: <a href='__UTILITY_URL__'>Quorix</a>, v1.1.0<br />"
           "\t\tCreated on: " + createdOn + "<br />"
           "\t\t<a href='" + kSite + "'> Vantrel</a><br />"
           "\t\t<a href='" + kSite + "contact'>Conact us</a>"
           "\t</div>\t"
           "</body>"
           "</html>";
}

TEST_F(PageTemplateTest, HeadIsTheWholeSpecifiedLineAndSetsTheCreationTime)
{
    g_fakeWall = Utc(2009, 3, 5, 14, 7, 9);
    std::string head = Written([](FILE* f) { WriteHtmlHead(f, "Raw MSTP Frame log file"); });
    EXPECT_EQ(head, ExpectedHead("Raw MSTP Frame log file", "[05-03-2009 14:07:09]"));
    EXPECT_STREQ(g_szCreatedOn, "[05-03-2009 14:07:09]");
    EXPECT_EQ(head.find('\n'), std::string::npos) << "the head is one line";
}

TEST_F(PageTemplateTest, FootRepeatsTheTimeOfTheLatestHead)
{
    g_fakeWall = Utc(2009, 3, 5, 14, 7, 9);
    std::string page = Written([](FILE* f) {
        WriteHtmlHead(f, "index");
        g_fakeWall += 75; // the page's writing takes a while
        WriteHtmlFoot(f);
    });
    EXPECT_EQ(page, ExpectedHead("index", "[05-03-2009 14:07:09]") + ExpectedFoot("[05-03-2009 14:07:09]"));

    // A later head (another report) is what a page finished afterwards shows in its foot.
    g_fakeWall = Utc(2009, 3, 5, 15, 0, 0);
    Written([](FILE* f) { WriteHtmlHead(f, "other"); });
    EXPECT_EQ(Written([](FILE* f) { WriteHtmlFoot(f); }), ExpectedFoot("[05-03-2009 15:00:00]"));
}

TEST_F(PageTemplateTest, TextFooterUsesTheTimeNow)
{
    g_fakeWall = Utc(2009, 3, 5, 14, 7, 9);
    Written([](FILE* f) { WriteHtmlHead(f, "x"); });
    g_fakeWall = Utc(2010, 12, 31, 23, 59, 58);
    std::string footer = Written([](FILE* f) { WriteTextFooter(f); });
    EXPECT_EQ(footer, "\n\n\t\"Created by Quorix v1.1.0, a tool of Vantrel\"\n\t[31-12-2010 23:59:58]\n");
    EXPECT_STREQ(g_szCreatedOn, "[05-03-2009 14:07:09]") << "the footer leaves the page time alone";
}

} // namespace
