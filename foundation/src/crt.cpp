#include "foundation/crt.h"

#include "foundation/tools.h"

namespace foundation {

void ConsoleSetup() {}

bool ConsoleKeyWaiting() {
    return false;
}

void ConsoleDelay(int ms) {
    DelayMs(ms);
}

// Without a console the tone presets stay 0, so a tone would be silent anyway.
void ConsoleTone(int /*frequency*/) {}

void ConsoleToneEnd() {}

} // namespace foundation
