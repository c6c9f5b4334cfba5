#include "xvar_panel.h"

#include "panel_parts.h"

namespace scope {

XVarPanel::XVarPanel(QWidget* parent) : QFrame(parent) {
    MakePanel(this, "Panel6", 456, 492, 255, 40);
    MakeLabel(this, "Label18", "xVar", 4, 2, 22);
    on_ = MakeCheck(this, "VarSelectedX", 6, 17);
    MakeLabel(this, "Label20", "xVarName", 28, 2, 60);
    name_ = MakeCombo(this, "VarNameX", 28, 15, 150);
    MakeLabel(this, "Label19", "RecentOnly", 184, 2, 60);
    recentOnly_ = MakeCheck(this, "NoHisSelected", 196, 17);
}

} // namespace scope
