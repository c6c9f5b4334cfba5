#include "channel_panel.h"

#include "panel_parts.h"
#include "scope/scope_window.h"

#include <array>

namespace scope {

namespace {

// Where each channel's controls sit; the three panels differ in width only.
struct ChannelLayout {
    int x, w;
    QRgb colour;
    int nameWidth;
    // Columns of the on box (0: none), the bin box, the min, max and av boxes, and the width
    // of a statistics box (the av box is narrower).
    int on, bin, min, max, avg, statWidth, avgWidth;
    // Object names of the captions: on (if any), bin, min, max, av.
    std::array<const char*, 5> labels;
};

const ChannelLayout kLayouts[4] = {
    {},
    {8,
     275,
     kChannel1Colour,
     118,
     0,
     126,
     148,
     191,
     234,
     40,
     37,
     {nullptr, "Label5", "Label2", "Label3", "Label4"}},
    {282,
     259,
     kChannel2Colour,
     100,
     108,
     128,
     148,
     186,
     224,
     35,
     31,
     {"Label6", "Label7", "Label8", "Label9", "Label10"}},
    {543,
     282,
     kChannel3Colour,
     123,
     131,
     151,
     171,
     209,
     247,
     35,
     31,
     {"Label11", "Label12", "Label13", "Label14", "Label15"}},
};

} // namespace

ChannelPanel::ChannelPanel(int index, QWidget* parent) : QFrame(parent) {
    const ChannelLayout& l = kLayouts[index];
    const QString n = QString::number(index);
    MakePanel(this, "Panel" + n, l.x, 2, l.w, 40);
    SetPanelColour(this, l.colour);
    name_ = MakeCombo(this, "VarName" + n, 4, 10, l.nameWidth);
    if (l.on != 0) {
        MakeLabel(this, l.labels[0], "on", l.on, 2, 18);
        on_ = MakeCheck(this, "VarSelected" + n, l.on, 17);
    }
    // Channel 1's bin caption sits one column left of its box and is wider.
    MakeLabel(this, l.labels[1], "bin", l.bin, 2, index == 1 ? 20 : 18);
    bin_ = MakeCheck(this, "DisplayBin" + n, index == 1 ? l.bin + 1 : l.bin, 17);
    MakeLabel(this, l.labels[2], "min", l.min, 2, l.statWidth);
    min_ = MakeEdit(this, "Min" + n, l.min, 15, l.statWidth);
    MakeLabel(this, l.labels[3], "max", l.max, 2, l.statWidth);
    max_ = MakeEdit(this, "Max" + n, l.max, 15, l.statWidth);
    MakeLabel(this, l.labels[4], "av", l.avg, 2, l.avgWidth);
    avg_ = MakeEdit(this, "Avg" + n, l.avg, 15, l.avgWidth);
}

void ChannelPanel::ShowStatistics(double minimum, double maximum, double average,
                                  const TypedScale& scale) {
    if (scale.On()) {
        min_->setText(QString::fromStdString(TypedText(minimum, scale.Type())));
        max_->setText(QString::fromStdString(TypedText(maximum, scale.Type())));
        avg_->setText(QString::fromStdString(NumberText(average)));
        return;
    }
    min_->setText(QString::number(T(minimum)));
    max_->setText(QString::number(T(maximum)));
    avg_->setText(QString::number(N(average)));
}

void ChannelPanel::ShowStatisticsTips(const QString& minimum, const QString& maximum,
                                      const QString& average) {
    min_->setToolTip(minimum);
    max_->setToolTip(maximum);
    avg_->setToolTip(average);
}

void ChannelPanel::ClearStatistics() {
    for (QLineEdit* box : {min_, max_, avg_}) {
        box->clear();
        box->setToolTip({});
    }
}

} // namespace scope
