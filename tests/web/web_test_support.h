#pragma once
// Shared by the web client's and the About dialog's tests: a fresh working directory for the log
// files, and the entries read back from them.
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/debug_log.h"
#include "web/loopback_server.h"
#include "web/vantrel_com.h"

class TempWorkDir {
public:
    TempWorkDir()
    {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd))
            m_previous = cwd;
        char pattern[] = "/tmp/quorix-web-XXXXXX";
        if (!mkdtemp(pattern) || chdir(pattern) != 0)
            throw std::runtime_error("cannot make a temporary directory");
        m_path = pattern;
        ResetLogPathsForTest();
    }
    ~TempWorkDir()
    {
        ResetLogPathsForTest();
        if (!m_previous.empty() && chdir(m_previous.c_str()) != 0)
            return;
        for (const char* name : {"/Debuglog.txt", "/log.txt"})
            unlink((m_path + name).c_str());
        rmdir(m_path.c_str());
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_previous;
    std::string m_path;
};

// The texts of a log file's entries, each without its time-stamp prefix.
inline std::vector<std::string> LogEntries(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string s = all.str();
    auto isPrefix = [&s](size_t pos) {
        return pos + 23 <= s.size() && s[pos] == '\n' && s[pos + 1] == '[' && s[pos + 21] == ']' && s[pos + 22] == ' ';
    };
    std::vector<std::string> entries;
    size_t pos = s.find("\n[");
    while (pos != std::string::npos && isPrefix(pos)) {
        size_t next = pos + 1;
        while ((next = s.find("\n[", next)) != std::string::npos && !isPrefix(next))
            ++next;
        size_t end = next == std::string::npos ? s.size() : next;
        entries.push_back(s.substr(pos + 23, end - pos - 23));
        pos = next;
    }
    return entries;
}

inline std::vector<std::string> DebugLogEntries()
{
    return LogEntries("Debuglog.txt");
}

// A suite whose tests share one loopback server; each test starts with no events recorded and the
// web client pointed at the server.
class LoopbackServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new LoopbackServer(); }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override
    {
        s_server->Take();
        SetVantrelWebHost(s_server->Host().c_str());
    }
    void TearDown() override { SetVantrelWebHost(nullptr); }

    static std::string Url(const std::string& path) { return "http://" + s_server->Host() + path; }

    static inline LoopbackServer* s_server = nullptr;
};
