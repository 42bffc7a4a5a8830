#pragma once
// Dispatches the window messages waiting on this thread, so timers and the window stay live while
// the caller waits. The application installs its event-loop processing; without one it does nothing.
#include <functional>

using MessagePumpHook = std::function<void()>;

void PumpWindowMessages();
MessagePumpHook SetMessagePumpHook(MessagePumpHook hook);
