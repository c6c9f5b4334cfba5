// How a window program shows a fatal error: a modal error box with one OK button, then the
// end of the program with exit code 1.
#pragma once

#include <QString>

namespace gui {

void InstallFatalMessageBox(const QString& title);

} // namespace gui
