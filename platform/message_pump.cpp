#include "platform/message_pump.h"

#include <mutex>

namespace {
std::mutex g_hookMutex;
MessagePumpHook g_hook;
}

MessagePumpHook SetMessagePumpHook(MessagePumpHook hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    MessagePumpHook previous = std::move(g_hook);
    g_hook = std::move(hook);
    return previous;
}

void PumpWindowMessages()
{
    MessagePumpHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook)
        hook();
}
