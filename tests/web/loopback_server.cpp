#include "web/loopback_server.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "build_config.h"

extern char** environ;

namespace {

std::string Hex(const std::string& data)
{
    if (data.empty())
        return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : data) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& text)
{
    std::string out;
    if (text == "-")
        return out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

} // namespace

LoopbackServer::LoopbackServer()
{
    // Loopback traffic must not be sent to a proxy the environment may name.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    std::string script = std::string(QUORIX_SOURCE_DIR) + "/tests/web/loopback_http_server.py";
    const char* argv[] = {"python3", script.c_str(), nullptr};
    int rc = posix_spawnp(&m_pid, "python3", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    if (rc != 0)
        throw std::runtime_error("cannot start python3");
    m_in = fdopen(toChild[1], "w");
    m_out = fdopen(fromChild[0], "r");
    std::string first = ReadLine();
    if (first.rfind("PORT ", 0) != 0)
        throw std::runtime_error("loopback server did not start: " + first);
    m_port = std::atoi(first.c_str() + 5);
}

LoopbackServer::~LoopbackServer()
{
    if (m_in) {
        std::fputs("QUIT\n", m_in);
        std::fclose(m_in);
    }
    if (m_out)
        std::fclose(m_out);
    if (m_pid > 0) {
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
}

std::string LoopbackServer::Host() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

void LoopbackServer::Send(const std::string& line)
{
    std::fputs((line + "\n").c_str(), m_in);
    std::fflush(m_in);
}

std::string LoopbackServer::ReadLine()
{
    std::string line;
    int c;
    while ((c = std::fgetc(m_out)) != EOF && c != '\n')
        line += static_cast<char>(c);
    return line;
}

void LoopbackServer::Reply(const std::string& path, int status, const std::string& body)
{
    Command("REPLY " + path + " " + std::to_string(status) + " " + Hex(body));
}

void LoopbackServer::Hang(const std::string& path)
{
    Command("HANG " + path);
}

void LoopbackServer::Stream(const std::string& path, long long octets, int msPerPiece, const std::string& piece)
{
    Command("STREAM " + path + " " + (octets < 0 ? std::string("-") : std::to_string(octets)) + " " +
            std::to_string(msPerPiece) + " " + Hex(piece));
}

void LoopbackServer::Hold(const std::string& path)
{
    Command("HOLD " + path);
}

void LoopbackServer::Release(const std::string& path)
{
    Command("RELEASE " + path);
}

void LoopbackServer::Command(const std::string& line)
{
    Send(line);
    ReadLine();
}

std::vector<ServerEvent> LoopbackServer::Take()
{
    Send("TAKE");
    std::vector<ServerEvent> events;
    for (;;) {
        std::string line = ReadLine();
        if (line.empty() || line == "END")
            break;
        std::vector<std::string> words;
        size_t pos = 0;
        while (pos <= line.size()) {
            size_t space = line.find(' ', pos);
            if (space == std::string::npos)
                space = line.size();
            words.push_back(line.substr(pos, space - pos));
            pos = space + 1;
        }
        if (words.size() == 6)
            events.push_back({words[1], words[2], words[3], Unhex(words[4]), Unhex(words[5])});
    }
    return events;
}

std::vector<ServerEvent> LoopbackServer::TakeRequests()
{
    std::vector<ServerEvent> requests;
    for (ServerEvent& e : Take())
        if (e.kind == "begin")
            requests.push_back(std::move(e));
    return requests;
}

ClosedLoopbackPort::ClosedLoopbackPort()
{
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot bind a loopback port");
    socklen_t len = sizeof addr;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
}

ClosedLoopbackPort::~ClosedLoopbackPort()
{
    if (m_fd >= 0)
        close(m_fd);
}
