#include "panel_parts.h"

#include <QPalette>

#include <algorithm>

namespace scope {

void MakePanel(QFrame* panel, const QString& name, int x, int y, int w, int h) {
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setGeometry(x, y, w, h);
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption, int x, int y, int w,
                  int h) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, int x, int y, int w) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setGeometry(x, y, w, 21);
    return edit;
}

TCheckBox* MakeCheck(QWidget* parent, const QString& name, int x, int y) {
    auto* box = new TCheckBox(name, QString(), parent);
    box->setGeometry(x, y, 16, 17);
    return box;
}

TComboBox* MakeCombo(QWidget* parent, const QString& name, int x, int y, int w) {
    auto* box = new TComboBox(name, parent);
    box->setGeometry(x, y, w, 21);
    return box;
}

QSlider* MakeTrackBar(QWidget* parent, const QString& name, int x, int y, int w, int h) {
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(name);
    bar->setTickPosition(QSlider::TicksBelow);
    SetBarSpan(bar, BarSpan{});
    bar->setGeometry(x, y, w, h);
    return bar;
}

void SetBarSpan(QSlider* bar, const BarSpan& span) {
    bar->setRange(0, span.steps);
    const int sixteenth = std::max(1, (span.steps + 1) / 16);
    bar->setTickInterval(sixteenth);
    bar->setPageStep(sixteenth);
}

void SetPanelColour(QWidget* panel, QRgb colour) {
    QPalette p = panel->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(role, QColor::fromRgb(colour));
    }
    panel->setPalette(p);
}

} // namespace scope
