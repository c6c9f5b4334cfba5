// Where the selector modules write their console lines: the device line of the
// identification, the transfer banners and statistics, the blank lines around a fatal stop.
// A command-line program has a console (standard output); tests catch the lines in a string
// stream instead.
#pragma once

#include <ostream>
#include <string>

namespace selector {

std::ostream& Console();
// Installs stream (not owned); nullptr puts standard output back.
void SetConsole(std::ostream* stream);
// Writes text as one whole line and flushes, so the line is out before a long transfer.
void ConsoleLine(const std::string& text);

// Catches the console lines for one scope.
class ScopedConsole {
public:
    explicit ScopedConsole(std::ostream& stream) { SetConsole(&stream); }
    ~ScopedConsole() { SetConsole(nullptr); }
    ScopedConsole(const ScopedConsole&) = delete;
    ScopedConsole& operator=(const ScopedConsole&) = delete;
};

} // namespace selector
