#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_hookMutex;
MessageBoxHook g_hook;
}

int DefaultMessageBoxAnswer(unsigned type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return IDOK;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    case MB_YESNOCANCEL:
    case MB_YESNO:
        return IDYES;
    case MB_RETRYCANCEL:
        return IDRETRY;
    default:
        return IDOK;
    }
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    MessageBoxHook previous = std::move(g_hook);
    g_hook = std::move(hook);
    return previous;
}

int MessageBoxA(void* /*owner*/, const char* text, const char* caption, unsigned type)
{
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    std::string t = text ? text : "";
    std::string c = caption ? caption : "Error";
    if (hook)
        return hook(t, c, type);
    std::fprintf(stderr, "[%s] %s\n", c.c_str(), t.c_str());
    return DefaultMessageBoxAnswer(type);
}
