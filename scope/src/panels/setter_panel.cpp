#include "setter_panel.h"

#include "panel_parts.h"

namespace scope {

SetterPanel::SetterPanel(int index, QWidget* parent) : QFrame(parent) {
    const QString n = QString::number(index);
    if (index == 1) {
        MakePanel(this, "Panel4", 8, 531, 704, 39);
    } else {
        MakePanel(this, "Panel5", 7, 568, 704, 40);
    }
    check_ = MakeCheck(this, "SetterSelected" + n, 4, 11);
    check_->setToolTip("Setter " + n + " on");
    name_ = MakeCombo(this, "SetterName" + n, 22, 9, 150);
    value_ = MakeEdit(this, "SetterVal" + n, 176, 9, 36);
    value_->setText("0");
    bar_ = MakeTrackBar(this, "SetterTrackBar" + n, 216, 5, 475, 29);
    connect(bar_, &QSlider::valueChanged, this, [this](int value) {
        if (!puttingBack_) {
            Q_EMIT BarMoved(value);
        }
    });
}

void SetterPanel::SetSpan(const BarSpan& span) {
    if (span == span_) {
        return;
    }
    span_ = span;
    puttingBack_ = true;
    SetBarSpan(bar_, span);
    puttingBack_ = false;
}

void SetterPanel::MoveBar(int position) {
    bar_->setValue(position);
}

void SetterPanel::PutBarBack(int position) {
    puttingBack_ = true;
    bar_->setValue(position);
    puttingBack_ = false;
}

void SetterPanel::ShowValue(const QString& text) {
    value_->setText(text);
}

} // namespace scope
