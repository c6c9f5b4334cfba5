#include "trigger_panel.h"

#include "panel_parts.h"

namespace scope {

TriggerPanel::TriggerPanel(QWidget* parent) : QFrame(parent) {
    MakePanel(this, "Panel7", 8, 493, 338, 39);
    check_ = MakeCheck(this, "TriggerSelected", 4, 11);
    check_->setToolTip("Trigger on");
    name_ = MakeCombo(this, "TriggerName", 22, 9, 110);
    level_ = MakeEdit(this, "TriggerVal", 136, 9, 32);
    level_->setText("0");
    bar_ = MakeTrackBar(this, "TriggerTrackBar", 172, 5, 162, 29);
    // The level is what the edit shows; the bar is how it is set.
    connect(bar_, &QSlider::valueChanged, this,
            [this](int value) { level_->setText(QString::number(value)); });
    connect(level_, &QLineEdit::textChanged, this, &TriggerPanel::LevelChanged);
}

std::string TriggerPanel::Level() const {
    return level_->text().toStdString();
}

} // namespace scope
