// The end a command-line program is asked for: SIGINT, SIGTERM and SIGHUP call the handler,
// except a signal whoever started the program ignores (nohup), which stays ignored; SIGPIPE is
// ignored, so a reader or client that went away is an error of one write, never a silent death.
#pragma once

namespace foundation {

void InstallStopSignals(void (*handler)(int));

} // namespace foundation
