// Console operations. Neither program has a console, so these are stand-ins that behave as
// the console-less case: no key is ever waiting, tones are silent, delays sleep.
#pragma once

namespace foundation {

void ConsoleSetup();
bool ConsoleKeyWaiting();
void ConsoleDelay(int ms);
void ConsoleTone(int frequency);
void ConsoleToneEnd();

} // namespace foundation
