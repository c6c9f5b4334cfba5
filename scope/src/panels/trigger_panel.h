// The trigger's panel: the check box that arms it, the variable it watches, and the level, set
// with a track bar and shown beside it.
#pragma once

#include "scope/controls.h"

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

Q_SIGNALS:
    void LevelChanged();

private:
    TCheckBox* check_ = nullptr;
    TComboBox* name_ = nullptr;
    QLineEdit* level_ = nullptr;
    QSlider* bar_ = nullptr;
};

} // namespace scope
