// The scope program's start-up before its window exists: the start-up all programs share
// (mcu/startup.h; applid.inc missing is fatal), then an empty global serializer.
#pragma once

#include <string>

namespace scope {

// executablePath empty: the running executable. Tests pass where the program would live.
void InitScopeModules(const std::string& executablePath = {});

// Fatal errors show a modal error box with one OK button, then end the program with exit
// code 1.
void InstallFatalBox();

// The application's title (task lists, dialogs without their own title).
inline constexpr const char* kApplicationTitle = "OMBRIX variable oscilloscope";

} // namespace scope
