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
    // The value the MC last took.
    void ShowValue(std::uint8_t value);
    // Moves the bar as the user would: a new position is announced (BarMoved).
    void MoveBar(std::uint8_t value);
    // Puts the bar back to the value the MC holds after a write failed: going back is no
    // request of the user's, so nothing is announced.
    void PutBarBack(std::uint8_t value);

Q_SIGNALS:
    // The bar stands at a new position, moved by the user or by MoveBar.
    void BarMoved(std::uint8_t position);

private:
    TCheckBox* check_ = nullptr;
    TComboBox* name_ = nullptr;
    QLineEdit* value_ = nullptr;
    QSlider* bar_ = nullptr;
    bool puttingBack_ = false;
};

} // namespace scope
