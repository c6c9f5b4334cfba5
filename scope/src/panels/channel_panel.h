// A trace channel's panel: the variable's name box, the "on" box (channels 2 and 3; channel 1
// runs whenever the acquisition runs), the bit-lane box, and the min, max and av boxes of the
// channel's statistics, all in the channel's colour.
#pragma once

#include "scope/controls.h"
#include "scope/typed_range.h"

#include <QFrame>
#include <QLineEdit>
#include <QString>

namespace scope {

class ChannelPanel : public QFrame {
    Q_OBJECT
public:
    // index: 1..3; the panel is "Panel<index>" and its controls carry the channel's numbers.
    ChannelPanel(int index, QWidget* parent);

    TComboBox* NameBox() const { return name_; }
    // Null for channel 1.
    TCheckBox* OnBox() const { return on_; }
    TCheckBox* BinBox() const { return bin_; }

    // The statistics of the last completed sweep or redraw, in raw units: the byte, or for a
    // typed channel (scale on) its own values, floats with their fractions.
    void ShowStatistics(double minimum, double maximum, double average, const TypedScale& scale);
    // Their values in the variable's unit, as tooltips; empty texts leave none.
    void ShowStatisticsTips(const QString& minimum, const QString& maximum, const QString& average);
    // A new variable: nothing measured yet.
    void ClearStatistics();

private:
    TComboBox* name_ = nullptr;
    TCheckBox* on_ = nullptr;
    TCheckBox* bin_ = nullptr;
    QLineEdit* min_ = nullptr;
    QLineEdit* max_ = nullptr;
    QLineEdit* avg_ = nullptr;
};

} // namespace scope
