#include "foundation/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace foundation {

namespace {

void DefaultFatal(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    ExitProgram(1);
}

FatalHandler& Handler() {
    static FatalHandler handler = DefaultFatal;
    return handler;
}

} // namespace

void FatalError(const std::string& text) {
    Handler()(text);
}

void SetFatalHandler(FatalHandler handler) {
    Handler() = handler ? std::move(handler) : FatalHandler(DefaultFatal);
}

void ExitProgram(int code) {
    std::exit(code);
}

} // namespace foundation
