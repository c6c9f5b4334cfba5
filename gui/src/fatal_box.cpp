#include "gui/fatal_box.h"

#include "foundation/fatal.h"

#include <QMessageBox>

namespace gui {

void InstallFatalMessageBox(const QString& title) {
    foundation::SetFatalHandler([title](const std::string& text) {
        QMessageBox::critical(nullptr, title, QString::fromStdString(text), QMessageBox::Ok);
        foundation::ExitProgram(1);
    });
}

} // namespace gui
