#include <cstdio>
#include <string>

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
