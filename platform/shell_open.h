#pragma once
// The desktop's "open": shows a URL or a local page in the user's browser. The default opens it with
// xdg-open without waiting; tests install a hook that records the target instead.
#include <functional>
#include <string>

using ShellOpenHook = std::function<bool(const std::string& target)>;

// Returns true when the opener could be started.
bool ShellOpen(const std::string& target);
ShellOpenHook SetShellOpenHook(ShellOpenHook hook);
