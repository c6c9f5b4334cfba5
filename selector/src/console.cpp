#include "selector/console.h"

#include <iostream>

namespace selector {

namespace {

std::ostream*& Target() {
    static std::ostream* stream = nullptr;
    return stream;
}

} // namespace

std::ostream& Console() {
    std::ostream* stream = Target();
    return stream != nullptr ? *stream : std::cout;
}

void SetConsole(std::ostream* stream) {
    Target() = stream;
}

void ConsoleLine(const std::string& text) {
    Console() << text << '\n' << std::flush;
}

} // namespace selector
