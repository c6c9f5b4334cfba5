// The trigger's panel: the check box that arms it, the variable it watches, and the level, set
// with a track bar and shown beside it.
#pragma once

#include "scope/controls.h"
#include "scope/typed_range.h"

#include <QFrame>
#include <QLineEdit>
#include <QSlider>

#include <string>

namespace scope {

class TriggerPanel : public QFrame {
    Q_OBJECT
public:
    explicit TriggerPanel(QWidget* parent);

    TCheckBox* CheckBox() const { return check_; }
    TComboBox* NameBox() const { return name_; }
    // The level as the panel shows it.
    std::string Level() const;
    // What the bar offers for the trigger variable's type (a byte: 0..255); the level keeps
    // its value where the new span holds it.
    void SetSpan(const BarSpan& span, mcu::VarType type);

Q_SIGNALS:
    void LevelChanged();

private:
    TCheckBox* check_ = nullptr;
    TComboBox* name_ = nullptr;
    QLineEdit* level_ = nullptr;
    QSlider* bar_ = nullptr;
    BarSpan span_;
    mcu::VarType type_ = mcu::VarType::U8;
};

} // namespace scope
