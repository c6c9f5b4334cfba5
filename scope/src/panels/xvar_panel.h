// The x-variable's panel: the box that switches x-y mode on, the x-variable's name, and
// "RecentOnly", which leaves points older than a second out of the x-y picture.
#pragma once

#include "scope/controls.h"

#include <QFrame>

namespace scope {

class XVarPanel : public QFrame {
    Q_OBJECT
public:
    explicit XVarPanel(QWidget* parent);

    TCheckBox* OnBox() const { return on_; }
    TComboBox* NameBox() const { return name_; }
    TCheckBox* RecentOnlyBox() const { return recentOnly_; }

private:
    TCheckBox* on_ = nullptr;
    TComboBox* name_ = nullptr;
    TCheckBox* recentOnly_ = nullptr;
};

} // namespace scope
