// A setter's panel: the check box that selects the setter, the name of the variable it writes,
// the value the MC last took, and the track bar the user writes with.
#pragma once

#include "scope/controls.h"

#include <QFrame>
#include <QLineEdit>
#include <QSlider>

#include <cstdint>

namespace scope {

class SetterPanel : public QFrame {
    Q_OBJECT
public:
    // index: 1 or 2 ("Panel4" and "Panel5").
    SetterPanel(int index, QWidget* parent);

    TCheckBox* CheckBox() const { return check_; }
    TComboBox* NameBox() const { return name_; }
    QSlider* Bar() const { return bar_; }
    // The value the MC last took.
    void ShowValue(std::uint8_t value);

private:
    TCheckBox* check_ = nullptr;
    TComboBox* name_ = nullptr;
    QLineEdit* value_ = nullptr;
    QSlider* bar_ = nullptr;
};

} // namespace scope
