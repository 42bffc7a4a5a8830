#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_config.h"
#include "platform/message_pump.h"
#include "platform/shell_open.h"
#include "web/loopback_server.h"
#include "web/vantrel_com.h"
#include "web/web_test_support.h"

namespace {

const char kCheckPath[] = "/script/checkversion.php";
const char kFeedbackPath[] = "/script/sendfeedback.php";
const char kUsagePath[] = "/script/tattler.php";

CString Reply()
{
    std::lock_guard<std::mutex> lock(g_mtxVantrelComResponce);
    return g_csVantrelComResponce;
}

class VantrelComTest : public LoopbackServerTest {
protected:
    void TearDown() override
    {
        LoopbackServerTest::TearDown();
        SetMessagePumpHook(nullptr);
        SetShellOpenHook(nullptr);
        EXPECT_EQ(0, g_bVantrelComBusy.load());
    }

    std::vector<std::string> PostedBodies(const char* path)
    {
        std::vector<std::string> bodies;
        for (const ServerEvent& e : s_server->TakeRequests()) {
            EXPECT_EQ("POST", e.method);
            EXPECT_EQ(path, e.path);
            bodies.push_back(e.body);
        }
        return bodies;
    }

    TempWorkDir m_dir;
};

} // namespace

TEST(FormEscaping, EveryRowOfTheTable)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"%", "%25"},  {"$", "%24"},  {"&", "%26"},  {"+", "%2B"},   {",", "%2C"},  {"/", "%2F"},  {":", "%3A"},
        {";", "%3B"},  {"=", "%3D"},  {"?", "%3f"},  {"@", "%40"},   {" ", "%20"},  {"\"", "%22"}, {"<", "%3C"},
        {">", "%3E"},  {"#", "%23"},  {"{", "%7B"},  {"}", "%7D"},   {"|", "%7C"},  {"\\", "%5C"}, {"^", "%5E"},
        {"~", "%7E"},  {"[", "%5B"},  {"]", "%5D"},  {"`", "%60"},
        // Inserted escapes are not escaped again; an escape already in the text is.
        {" &?%", "%20%26%3f%25"},
        {"%20", "%2520"},
        {"a+b=c", "a%2Bb%3Dc"},
        // Everything else passes unchanged.
        {"Az09!'()*-._\t\r\n\xe9", "Az09!'()*-._\t\r\n\xe9"},
    };
    for (const Case& c : cases) {
        CString text(c.in);
        EscapeFormText(text);
        EXPECT_STREQ(c.out, text) << c.in;
    }
}

TEST_F(VantrelComTest, CheckVersionPostsItsFieldsInOrder)
{
    s_server->Reply(kCheckPath, 200, "PASS");
    CVantrelCom com;
    // Only the notes are escaped: an ampersand in the name or version starts a new field.
    EXPECT_EQ(0, com.CheckVersion("ZEL&Quorix", "1.10 aA", " &?%%20"));
    auto bodies = PostedBodies(kCheckPath);
    ASSERT_EQ(1u, bodies.size());
    EXPECT_EQ("app_name=ZEL&Quorix&app_ver=1.10 aA&Notes=%20%26%3f%25%2520", bodies[0]);
    auto log = DebugLogEntries();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ("FYI. CheckVersion " + bodies[0], log[0]);
    EXPECT_EQ("FYI. CheckVersion [" + bodies[0] + "] PASS", log[1]);
}

TEST_F(VantrelComTest, SendFeedbackEscapesMessageAndNotes)
{
    s_server->Reply(kFeedbackPath, 200, "PASS");
    CVantrelCom com;
    EXPECT_EQ(1, com.SendFeedback("ZEL Quorix", "1.10&aA", "Hi there? 50%", "Last Compile date: Dec 19 2008 12:37:05"));
    auto bodies = PostedBodies(kFeedbackPath);
    ASSERT_EQ(1u, bodies.size());
    EXPECT_EQ("Product=ZEL Quorix&ProductV=1.10&aA&Msg=Hi%20there%3f%2050%25"
              "&Notes=Last%20Compile%20date%3A%20Dec%2019%202008%2012%3A37%3A05",
              bodies[0]);
    // No line before the send, one after.
    auto log = DebugLogEntries();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("FYI. SendFeedback [" + bodies[0] + "] Feedback Sent", log[0]);
}

TEST_F(VantrelComTest, ReportUsageSendsKeysInOrderUnescaped)
{
    s_server->Reply(kUsagePath, 200, "STATE: PASS");
    CVantrelCom com;
    UsageParameters params{{"b", "3"}, {"a", "1 &x"}, {"ab", "2"}};
    EXPECT_EQ(1, com.ReportUsage("Quorix", "1.10aA", params));
    EXPECT_EQ(1, com.ReportUsage("Quorix", "1.10aA", {}));
    auto bodies = PostedBodies(kUsagePath);
    ASSERT_EQ(2u, bodies.size());
    EXPECT_EQ("utility=Quorix&version=1.10aA&a=1 &x&ab=2&b=3", bodies[0]);
    EXPECT_EQ("utility=Quorix&version=1.10aA", bodies[1]);
    EXPECT_TRUE(DebugLogEntries().empty());
}

TEST_F(VantrelComTest, CheckVersionVerdicts)
{
    struct Case {
        int status;
        const char* reply;
        int result;
        const char* logTail;
    } cases[] = {
        {200, "PASS", 0, "] PASS"},
        {200, "Pass", 0, "] PASS"},
        {200, "UPDATE", 1, "] UPDATE"},
        {200, "Update available", 1, "] UPDATE"},
        {200, "FAIL", -1, "] FAIL"},
        {200, "Fail", -1, "] FAIL"},
        {200, "UPDATE and PASS", 0, "] PASS"},
        {200, "Fail, Update", 1, "] UPDATE"},
        {200, "pass update fail", -1, "] Unknown error"},
        {200, "", -1, "] Unknown error"},
        {404, "<html><body>Not Found</body></html>", -1, "] Unknown error"},
        {500, "PASS", 0, "] PASS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        s_server->Reply(kCheckPath, c.status, c.reply);
        CVantrelCom com;
        EXPECT_EQ(c.result, com.CheckVersion("ZEL Quorix", "1.10aA", ""));
        EXPECT_TRUE(Reply().IsEmpty());
        EXPECT_EQ(0, g_bVantrelComBusy.load());
        auto log = DebugLogEntries();
        ASSERT_FALSE(log.empty());
        std::string prefix = c.result >= 0 || std::string(c.logTail) == "] FAIL" ? "FYI. " : "Err. ";
        EXPECT_EQ(prefix + "CheckVersion [app_name=ZEL Quorix&app_ver=1.10aA&Notes=" + c.logTail, log.back());
    }
}

TEST_F(VantrelComTest, SendFeedbackVerdicts)
{
    struct Case {
        const char* reply;
        int result;
    } cases[] = {
        {"PASS", 1}, {"Pass", 1}, {"xxPASSxx", 1}, {"pass", -1}, {"", -1}, {"UPDATE", -1}, {"FAIL", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        s_server->Reply(kFeedbackPath, 200, c.reply);
        CVantrelCom com;
        EXPECT_EQ(c.result, com.SendFeedback("P", "V", "m", "n"));
        EXPECT_TRUE(Reply().IsEmpty());
        const std::string body = "Product=P&ProductV=V&Msg=m&Notes=n";
        EXPECT_EQ(c.result == 1 ? "FYI. SendFeedback [" + body + "] Feedback Sent"
                                : "Err. SendFeedback [" + body + "] unknow error",
                  DebugLogEntries().back());
    }
}

TEST_F(VantrelComTest, UsageReportVerdictsAndTheReplyThatStays)
{
    struct Case {
        const char* reply;
        int result;
    } cases[] = {
        {"STATE: PASS", 1},
        {"ok\nSTATE: PASS\n", 1},
        {"STATE: PASS STATE: FAILED", 0},
        {"STATE: FAILED", 0},
        {"state: pass", 0},
        {"PASS", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        s_server->Reply(kUsagePath, 200, c.reply);
        {
            CVantrelCom com;
            EXPECT_EQ(c.result, com.ReportUsage("u", "v", {}));
            // Only the version check and the feedback empty the reply; the destructor does too.
            EXPECT_STREQ(c.reply, Reply());
        }
        EXPECT_TRUE(Reply().IsEmpty());
    }
}

TEST_F(VantrelComTest, BodyLimitIs2047Characters)
{
    s_server->Reply(kCheckPath, 200, "PASS");
    s_server->Reply(kFeedbackPath, 200, "PASS");
    s_server->Reply(kUsagePath, 200, "STATE: PASS");
    const std::string checkHead = "app_name=a&app_ver=b&Notes=";
    const std::string feedbackHead = "Product=a&ProductV=b&Msg=&Notes=";
    const std::string usageHead = "utility=a&version=";
    CVantrelCom com;
    for (int length : {2047, 2048}) {
        SCOPED_TRACE(length);
        bool sent = length < 2048;
        EXPECT_EQ(sent ? 0 : -1, com.CheckVersion("a", "b", std::string(length - checkHead.size(), 'n')));
        EXPECT_EQ(sent ? 1 : -1, com.SendFeedback("a", "b", "", std::string(length - feedbackHead.size(), 'n')));
        EXPECT_EQ(sent ? 1 : 0, com.ReportUsage("a", std::string(length - usageHead.size(), 'v'), {}));
        EXPECT_EQ(0, g_bVantrelComBusy.load());
        auto requests = s_server->TakeRequests();
        ASSERT_EQ(sent ? 3u : 0u, requests.size());
        for (const ServerEvent& r : requests)
            EXPECT_EQ(2047u, r.body.size());
    }
    // An escaped field counts at its escaped length.
    EXPECT_EQ(-1, com.CheckVersion("a", "b", std::string(700, ' ')));
    EXPECT_TRUE(s_server->TakeRequests().empty());
    // The refused requests left no log line; the next request runs at once.
    size_t lines = DebugLogEntries().size();
    EXPECT_EQ(0, com.CheckVersion("a", "b", ""));
    EXPECT_EQ(lines + 2, DebugLogEntries().size());
}

TEST_F(VantrelComTest, ClosedPortGivesEachRequestItsFailure)
{
    ClosedLoopbackPort closed;
    SetVantrelWebHost(closed.Host().c_str());
    CVantrelCom com;
    EXPECT_EQ(-1, com.CheckVersion("n", "v", ""));
    EXPECT_EQ("Err. CheckVersion [app_name=n&app_ver=v&Notes=] Unknown error", DebugLogEntries().back());
    EXPECT_EQ(-1, com.SendFeedback("n", "v", "m", ""));
    EXPECT_EQ("Err. SendFeedback [Product=n&ProductV=v&Msg=m&Notes=] unknow error", DebugLogEntries().back());
    EXPECT_EQ(0, com.ReportUsage("n", "v", {}));
}

TEST_F(VantrelComTest, OversizedReplyFailsAsAConnectionThatFails)
{
    struct Outcome {
        int check, feedback, usage;
        std::vector<std::string> log;
        bool operator==(const Outcome&) const = default;
    };
    auto run = [] {
        size_t before = DebugLogEntries().size();
        CVantrelCom com;
        Outcome o;
        o.check = com.CheckVersion("n", "v", "");
        o.feedback = com.SendFeedback("n", "v", "m", "");
        o.usage = com.ReportUsage("n", "v", {});
        std::vector<std::string> log = DebugLogEntries();
        o.log.assign(log.begin() + static_cast<long>(before), log.end());
        EXPECT_TRUE(Reply().IsEmpty());
        return o;
    };

    Outcome refused;
    {
        ClosedLoopbackPort closed;
        SetVantrelWebHost(closed.Host().c_str());
        refused = run();
    }
    // Every reply is made of the words of its verdict, yet none is a reply.
    SetVantrelWebHost(s_server->Host().c_str());
    s_server->Stream(kCheckPath, -1, 0, "PASS UPDATE ");
    s_server->Stream(kFeedbackPath, (1 << 20) + 1, 0, "PASS ");
    s_server->Stream(kUsagePath, 8 << 20, 0, "STATE: PASS ");
    Outcome oversized = run();
    EXPECT_EQ(3u, s_server->TakeRequests().size());
    EXPECT_EQ(-1, oversized.check);
    EXPECT_EQ(-1, oversized.feedback);
    EXPECT_EQ(0, oversized.usage);
    EXPECT_TRUE(oversized == refused);
    EXPECT_EQ(refused.log, oversized.log);
    for (const char* path : {kCheckPath, kFeedbackPath, kUsagePath})
        s_server->Reply(path, 404, "<html><body>Not Found</body></html>");
}

TEST_F(VantrelComTest, WorkerThatCannotStartLeavesTheFlagClear)
{
    s_server->Reply(kUsagePath, 200, "STATE: PASS");
    CVantrelCom com;
    ASSERT_EQ(1, com.ReportUsage("u", "v", {}));
    // The reply of the last report is still there; a failed start must not read it as a verdict.
    SetVantrelWorkerStartFailsForTest(true);
    EXPECT_EQ(0, com.ReportUsage("u", "v", {}));
    EXPECT_EQ(-1, com.CheckVersion("n", "v", ""));
    EXPECT_EQ(-1, com.SendFeedback("n", "v", "m", ""));
    SetVantrelWorkerStartFailsForTest(false);
    EXPECT_EQ(0, g_bVantrelComBusy.load());
    EXPECT_EQ(1u, s_server->TakeRequests().size());
    EXPECT_EQ(1, com.ReportUsage("u", "v", {}));
}

TEST_F(VantrelComTest, WaitKeepsDispatchingMessages)
{
    // The server holds the reply until the first message has been dispatched, so the wait is
    // certain to see the request in flight.
    s_server->Reply(kCheckPath, 200, "PASS");
    s_server->Hold(kCheckPath);
    int pumped = 0;
    int pumpedWhileBusy = 0;
    bool released = false;
    SetMessagePumpHook([&] {
        ++pumped;
        if (g_bVantrelComBusy.load())
            ++pumpedWhileBusy;
        if (!released) {
            released = true;
            s_server->Release(kCheckPath);
        }
    });
    CVantrelCom com;
    EXPECT_EQ(0, com.CheckVersion("n", "v", ""));
    s_server->Release(kCheckPath);
    EXPECT_GT(pumpedWhileBusy, 0);
    EXPECT_GE(pumped, pumpedWhileBusy);
}

TEST_F(VantrelComTest, SecondRequestDuringTheWaitRunsAfterTheFirst)
{
    s_server->Reply(kCheckPath, 200, "UPDATE");
    s_server->Reply(kFeedbackPath, 200, "PASS");
    // The first reply is held until the second request is waiting for its turn.
    s_server->Hold(kCheckPath);
    int inner = 0;
    bool inside = false;
    bool startedWhileBusy = false;
    bool waitedWhileBusy = false;
    SetMessagePumpHook([&] {
        if (inside) {
            // The nested request dispatches messages while it waits for the first to end.
            if (!waitedWhileBusy && g_bVantrelComBusy.load()) {
                waitedWhileBusy = true;
                s_server->Release(kCheckPath);
            }
            return;
        }
        // A handler that runs during the wait starts a request of its own, once.
        if (inner != 0)
            return;
        inside = true;
        startedWhileBusy = g_bVantrelComBusy.load() != 0;
        CVantrelCom nested;
        inner = nested.SendFeedback("P", "V", "m", "n");
        inside = false;
    });
    CVantrelCom com;
    // The inner feedback empties the reply, so the outer check falls to its last case.
    EXPECT_EQ(-1, com.CheckVersion("n", "v", ""));
    s_server->Release(kCheckPath);
    EXPECT_EQ(1, inner);
    EXPECT_TRUE(startedWhileBusy);
    EXPECT_TRUE(waitedWhileBusy);
    auto events = s_server->Take();
    ASSERT_EQ(4u, events.size());
    EXPECT_EQ("begin " + std::string(kCheckPath), events[0].kind + " " + events[0].path);
    EXPECT_EQ("end " + std::string(kCheckPath), events[1].kind + " " + events[1].path);
    EXPECT_EQ("begin " + std::string(kFeedbackPath), events[2].kind + " " + events[2].path);
    EXPECT_EQ("end " + std::string(kFeedbackPath), events[3].kind + " " + events[3].path);
    EXPECT_EQ("Err. CheckVersion [app_name=n&app_ver=v&Notes=] Unknown error", DebugLogEntries().back());
}

TEST_F(VantrelComTest, RequestsOneAfterAnother)
{
    s_server->Reply(kCheckPath, 200, "UPDATE");
    s_server->Reply(kFeedbackPath, 200, "Pass");
    for (int i = 0; i < 3; ++i) {
        CVantrelCom com;
        EXPECT_EQ(1, com.CheckVersion("n", "v", ""));
        EXPECT_EQ(1, com.SendFeedback("n", "v", "m", ""));
    }
    EXPECT_EQ(6u, s_server->TakeRequests().size());
}

TEST_F(VantrelComTest, ReferralOpensTheSiteRootWithItsMark)
{
    std::vector<std::string> opened;
    SetShellOpenHook([&](const std::string& target) {
        opened.push_back(target);
        return false;
    });
    CVantrelCom com;
    EXPECT_EQ(1, com.Referral("Blarg", "Blarg version"));
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ("http://" + s_server->Host() + "/?ref=Blarg(Blarg version)", opened[0]);
    EXPECT_EQ("FYI. Referral csName=[Blarg] csVersion=[Blarg version]", DebugLogEntries().back());
    EXPECT_TRUE(s_server->TakeRequests().empty());
}

TEST_F(VantrelComTest, HelpAddressesAreIndependentCopies)
{
    std::vector<std::string> opened;
    SetShellOpenHook([&](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    CVantrelCom com;
    const std::string base = "http://" + s_server->Host() + "/script/help.php?Product=";
    CString first = com.GetHelpUrl("ZEL Quorix", "1.10aA", -1);
    CString second = com.GetHelpUrl("Q&A", "2", 17);
    EXPECT_EQ(base + "ZEL Quorix&ProductV=1.10aA&helpid=-1", first.str());
    EXPECT_EQ(base + "Q&A&ProductV=2&helpid=17", second.str());
    EXPECT_EQ("FYI. GetHelpUrl csName=[Q&A] csVersion=[2] iHelpID=[17]", DebugLogEntries().back());
    com.OpenHelp("N", "V", 3);
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(base + "N&ProductV=V&helpid=3", opened[0]);
}

TEST(VantrelWebHost, BuildTimeHostUnlessReplaced)
{
    SetVantrelWebHost(nullptr);
    EXPECT_STREQ(QUORIX_WEB_HOST, GetVantrelWebHost());
    SetVantrelWebHost("127.0.0.1:1");
    EXPECT_STREQ("127.0.0.1:1", GetVantrelWebHost());
    SetVantrelWebHost(nullptr);
    EXPECT_STREQ(QUORIX_WEB_HOST, GetVantrelWebHost());
}
