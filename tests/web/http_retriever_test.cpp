#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "web/http_retriever.h"
#include "web/loopback_server.h"
#include "web/web_test_support.h"

namespace {

class HttpRetrieverTest : public LoopbackServerTest {};

std::string Pattern(size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return text;
}

} // namespace

TEST_F(HttpRetrieverTest, ReplyBodiesAreTextWhateverTheStatus)
{
    struct Case {
        int status;
        std::string body;
    } cases[] = {
        {200, ""},
        {200, "STATE: PASS"},
        {404, "<html>no such script</html>"},
        {500, "Internal error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        s_server->Reply("/page", c.status, c.body);
        CHttpRetriever http;
        const char* text = http.Retrieve(Url("/page").c_str(), true, "a=1", -1);
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(c.body, text);
        text = http.Retrieve(Url("/page").c_str(), false);
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(c.body, text);
    }
}

TEST_F(HttpRetrieverTest, LongBodyArrivesWholeAndInOrder)
{
    for (size_t length : {8191u, 8192u, 20000u, 3 * 8191u + 5}) {
        SCOPED_TRACE(length);
        std::string body = Pattern(length);
        s_server->Reply("/long", 200, body);
        CHttpRetriever http;
        const char* text = http.Retrieve(Url("/long").c_str(), true, "x", -1);
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(body, text);
    }
}

TEST_F(HttpRetrieverTest, NulEndsOnlyTheChunkThatHoldsIt)
{
    // The body is read in chunks of 8191 octets; what follows a NUL in its chunk is dropped, the
    // next chunk's text is kept.
    std::string first = std::string(100, 'a') + '\0' + std::string(8191 - 101, 'b');
    std::string body = first + "XYZ" + '\0' + "tail";
    s_server->Reply("/nul", 200, body);
    CHttpRetriever http;
    const char* text = http.Retrieve(Url("/nul").c_str(), false);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(std::string(100, 'a') + "XYZ", text);
}

TEST_F(HttpRetrieverTest, PostSendsTheFormWithItsHeaders)
{
    s_server->Reply("/script/form.php", 200, "ok");
    CHttpRetriever http;
    ASSERT_NE(nullptr, http.Retrieve(Url("/script/form.php?q=1").c_str(), true, "a=1&b=2", -1));
    ASSERT_NE(nullptr, http.Retrieve(Url("/script/form.php").c_str(), true, "a=1&b=2", 3));
    auto requests = s_server->TakeRequests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("POST", requests[0].method);
    EXPECT_EQ("/script/form.php?q=1", requests[0].path);
    EXPECT_EQ("a=1&b=2", requests[0].body);
    EXPECT_EQ("a=1", requests[1].body);
    const std::string& h = requests[0].headers;
    EXPECT_NE(std::string::npos, h.find("User-Agent: Tarn Software HTTP Retriever 1.0\n")) << h;
    EXPECT_NE(std::string::npos, h.find("Content-Type: application/x-www-form-urlencoded\n")) << h;
    EXPECT_NE(std::string::npos, h.find("Accept: */*\n")) << h;
    EXPECT_EQ(std::string::npos, h.find("Expect:")) << h;
}

TEST_F(HttpRetrieverTest, NullUrlSendsNothing)
{
    CHttpRetriever http;
    EXPECT_EQ(nullptr, http.Retrieve(nullptr, true, "a=1", -1));
    EXPECT_EQ(static_cast<DWORD>(-1), http.GetLastErrorCode());
    EXPECT_EQ(nullptr, http.GetHeaders(nullptr));
    EXPECT_TRUE(s_server->TakeRequests().empty());
}

TEST_F(HttpRetrieverTest, ClosedPortIsATransportFailure)
{
    ClosedLoopbackPort closed;
    s_server->Reply("/ok", 200, "first");
    CHttpRetriever http;
    ASSERT_STREQ("first", http.Retrieve(Url("/ok").c_str(), true, "", -1));
    std::string url = "http://" + closed.Host() + "/script/checkversion.php";
    EXPECT_EQ(nullptr, http.Retrieve(url.c_str(), true, "a=1", -1));
    EXPECT_NE(0u, http.GetLastErrorCode());
    EXPECT_EQ(nullptr, http.Retrieve(url.c_str(), false));
    // The object stays usable after a failure.
    EXPECT_STREQ("first", http.Retrieve(Url("/ok").c_str(), true, "", -1));
}

TEST_F(HttpRetrieverTest, UrlThatCannotBeSplitFailsTheSend)
{
    CHttpRetriever http;
    EXPECT_EQ(nullptr, http.Retrieve("no url at all", true, "a=1", -1));
    EXPECT_NE(0u, http.GetLastErrorCode());
}

TEST_F(HttpRetrieverTest, ServerThatNeverAnswersTimesOut)
{
    s_server->Hang("/stall");
    CHttpRetriever::SetTimeouts(1, 1);
    const char* text = nullptr;
    {
        CHttpRetriever http;
        text = http.Retrieve(Url("/stall").c_str(), true, "a=1", -1);
    }
    CHttpRetriever::SetTimeouts(0, 0);
    EXPECT_EQ(nullptr, text);
}

TEST_F(HttpRetrieverTest, BodyAbove1MiBIsATransportFailure)
{
    // Made of a verdict word, so a body cut off at the limit could pass for a reply.
    const std::string piece = "PASS";
    std::string mebibyte;
    while (mebibyte.size() < (1u << 20))
        mebibyte += piece;
    struct Case {
        const char* name;
        long long octets; // -1: without end and without a length in the head
        bool whole;
    } cases[] = {
        {"exactly 1 MiB", 1 << 20, true},
        {"one octet more", (1 << 20) + 1, false},
        {"64 MiB", 64ll << 20, false},
        {"without end", -1, false},
    };
    CHttpRetriever http;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s_server->Stream("/big", c.octets, 0, piece);
        for (bool post : {true, false}) {
            SCOPED_TRACE(post ? "POST" : "GET");
            const char* text = http.Retrieve(Url("/big").c_str(), post, "a=1", -1);
            if (c.whole) {
                ASSERT_NE(nullptr, text);
                EXPECT_EQ(mebibyte.size(), std::strlen(text));
                EXPECT_TRUE(text == mebibyte);
            } else {
                EXPECT_EQ(nullptr, text);
                EXPECT_NE(0u, http.GetLastErrorCode());
            }
        }
    }
    // The object stays usable after the refused body.
    s_server->Reply("/big", 200, "small");
    EXPECT_STREQ("small", http.Retrieve(Url("/big").c_str(), true, "", -1));
}

TEST_F(HttpRetrieverTest, TrickleCannotStretchARequestPastBothTimeOutsTogether)
{
    // One octet every 50 ms never looks like a stalled receive; the server would go on for a
    // minute.
    s_server->Stream("/trickle", -1, 50, "P");
    CHttpRetriever::SetTimeouts(1, 1);
    const auto start = std::chrono::steady_clock::now();
    const char* text = nullptr;
    std::string got;
    {
        CHttpRetriever http;
        text = http.Retrieve(Url("/trickle").c_str(), true, "a=1", -1);
        if (text)
            got = text;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    CHttpRetriever::SetTimeouts(0, 0);
    // Two seconds are allowed; the margin is for a loaded machine, not a measure.
    EXPECT_LT(elapsed, std::chrono::seconds(30));
    // Cut short after the head came back, the body is what had come, as after any failed read.
    ASSERT_NE(nullptr, text);
    EXPECT_FALSE(got.empty());
    EXPECT_EQ(std::string(got.size(), 'P'), got);
}

TEST_F(HttpRetrieverTest, HeadersAndStatusCode)
{
    CHttpRetriever http;
    EXPECT_EQ(nullptr, http.FindHeader("http"));
    EXPECT_EQ(0, http.GetStatusCode());

    s_server->Reply("/missing", 404, "gone");
    const char* block = http.GetHeaders(Url("/missing").c_str());
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0, std::strncmp(block, "HTTP/1.0 404", 12)) << block;
    EXPECT_EQ(404, http.GetStatusCode());
    const char* line = http.FindHeader("content-type");
    ASSERT_NE(nullptr, line);
    EXPECT_STREQ("Content-Type: text/plain", line);
    EXPECT_EQ(nullptr, http.FindHeader("X-Not-There"));
    // The block's lines each end with a NUL and one more NUL ends it.
    const char* p = block;
    int lines = 0;
    while (*p) {
        p += std::strlen(p) + 1;
        ++lines;
    }
    EXPECT_GE(lines, 3);

    s_server->Reply("/fine", 200, "");
    ASSERT_NE(nullptr, http.GetHeaders(Url("/fine").c_str()));
    EXPECT_EQ(200, http.GetStatusCode());

    ClosedLoopbackPort closed;
    EXPECT_EQ(nullptr, http.GetHeaders(("http://" + closed.Host() + "/").c_str()));
    EXPECT_EQ(nullptr, http.FindHeader("http"));
    EXPECT_EQ(0, http.GetStatusCode());
}

TEST(StrIStr, FindsInAnyLetterCase)
{
    struct Case {
        const char* text;
        const char* pattern;
        int offset;  // -1: not found
    } cases[] = {
        {"HTTP/1.1 200 OK", "http", 0},
        {"Server: X\0", "server", 0},
        {"xxCONTENT-TYPE: text", "content-type", 2},
        {"abc", "", 0},
        {"", "", 0},
        {"abc", "abcd", -1},
        {"STATE: PASS", "pas", 7},
        {"a[b", "A{B", -1},
        {"", "a", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.pattern);
        const char* hit = StrIStr(c.text, c.pattern);
        if (c.offset < 0)
            EXPECT_EQ(nullptr, hit);
        else
            EXPECT_EQ(c.text + c.offset, hit);
    }
}

TEST(WcsIStr, FindsInAnyLetterCase)
{
    const wchar_t* text = L"Content-Length: 12";
    EXPECT_EQ(text + 8, WcsIStr(text, L"LENGTH"));
    EXPECT_EQ(text, WcsIStr(text, L""));
    EXPECT_EQ(nullptr, WcsIStr(text, L"type"));
}
