// The one way a program ends on a fatal condition. Each program installs how the message is
// shown (a message box in the windows, standard error in command-line tools); tests install a
// recorder so that no test ends the test process.
#pragma once

#include <functional>
#include <string>

namespace foundation {

using FatalHandler = std::function<void(const std::string& text)>;

// Shows text and ends the process with exit code 1 through the installed handler. If a
// handler returns (only test recorders do), FatalError returns too and the caller goes on.
void FatalError(const std::string& text);

// Installs handler; an empty handler restores the default (standard error, exit code 1).
void SetFatalHandler(FatalHandler handler);

// Ends the process with the given code; tests never reach it because their handlers return.
[[noreturn]] void ExitProgram(int code);

} // namespace foundation
