#pragma once
// The loopback HTTP server of the web tests (loopback_http_server.py), run as a child process and
// steered through its standard input and output.
#include <cstdio>
#include <string>
#include <sys/types.h>
#include <vector>

struct ServerEvent {
    std::string kind;  // "begin" when the request arrived, "end" just before its reply is written
    std::string method;
    std::string path;
    std::string body;
    std::string headers;  // "Name: value\n" lines
};

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return m_port; }
    // "127.0.0.1:port", the web host for the client under test.
    std::string Host() const;
    void Reply(const std::string& path, int status, const std::string& body);
    void Hang(const std::string& path);
    // Requests to path get 200 and a body of piece repeated: octets long (announced in the head),
    // or without end for a negative count. With msPerPiece above 0 one piece is written every so
    // many milliseconds, else as fast as the client reads. A Reply to the path ends this.
    void Stream(const std::string& path, long long octets, int msPerPiece, const std::string& piece);
    // Requests to path wait, once they have arrived, until Release(path); so a test decides when a
    // reply may come instead of guessing how long an exchange takes.
    void Hold(const std::string& path);
    void Release(const std::string& path);
    // Every event since the last call, in order.
    std::vector<ServerEvent> Take();
    // The requests (begin events) since the last call.
    std::vector<ServerEvent> TakeRequests();

private:
    void Send(const std::string& line);
    // Sends a command and waits for its acknowledgement.
    void Command(const std::string& line);
    std::string ReadLine();

    pid_t m_pid = -1;
    FILE* m_in = nullptr;
    FILE* m_out = nullptr;
    int m_port = 0;
};

// A loopback port held bound but never listening, so a connection to it is refused.
class ClosedLoopbackPort {
public:
    ClosedLoopbackPort();
    ~ClosedLoopbackPort();
    ClosedLoopbackPort(const ClosedLoopbackPort&) = delete;
    ClosedLoopbackPort& operator=(const ClosedLoopbackPort&) = delete;
    std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    int m_fd = -1;
    int m_port = 0;
};
