#include "platform/shell_open.h"

#include <mutex>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {
std::mutex g_hookMutex;
ShellOpenHook g_hook;
}

ShellOpenHook SetShellOpenHook(ShellOpenHook hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    ShellOpenHook previous = std::move(g_hook);
    g_hook = std::move(hook);
    return previous;
}

bool ShellOpen(const std::string& target)
{
    ShellOpenHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook)
        return hook(target);
    // The target goes as one argument vector entry: no shell ever parses it.
    const char* argv[] = {"xdg-open", target.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return false;
    // xdg-open hands over to the browser and exits; reap it so no zombie is left behind.
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
