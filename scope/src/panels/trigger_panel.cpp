#include "trigger_panel.h"

#include "panel_parts.h"

#include <QSignalBlocker>

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
    connect(bar_, &QSlider::valueChanged, this, [this](int position) {
        level_->setText(QString::fromStdString(TypedText(span_.Value(position), type_)));
    });
    connect(level_, &QLineEdit::textChanged, this, &TriggerPanel::LevelChanged);
}

std::string TriggerPanel::Level() const {
    return level_->text().toStdString();
}

void TriggerPanel::SetSpan(const BarSpan& span, mcu::VarType type) {
    if (span == span_ && type == type_) {
        return;
    }
    bool ok = false;
    const double level = level_->text().toDouble(&ok);
    span_ = span;
    type_ = type;
    const QSignalBlocker quiet(bar_);
    SetBarSpan(bar_, span);
    bar_->setValue(span.Position(ok ? level : 0));
    level_->setText(QString::fromStdString(TypedText(span.Value(bar_->value()), type)));
}

} // namespace scope
