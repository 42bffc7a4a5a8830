#pragma once
// Modal message boxes. The application installs its window-system implementation; tests install a
// scripted one. With none installed the box is written to standard error and answered at once with
// the default button of its style, so a program without a display never blocks.
#include <functional>
#include <string>

#include "platform/win_types.h"

using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption, unsigned type)>;

// Shows the box and returns the code of the button pressed (IDOK, IDYES, ...).
int MessageBoxA(void* owner, const char* text, const char* caption, unsigned type);

// Installs the implementation (an empty function removes it); returns the previous one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// The answer a box of this style gives when nobody is there to press a button.
int DefaultMessageBoxAnswer(unsigned type);
