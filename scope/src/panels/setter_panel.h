// A setter's panel: the check box that selects the setter, the name of the variable it writes,
// the value the MC last took, and the track bar the user writes with.
#pragma once

#include "scope/controls.h"
#include "scope/typed_range.h"

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
    // What the bar offers (a byte: 0..255, one step each); the bar keeps its position where it
    // can and announces nothing.
    void SetSpan(const BarSpan& span);
    const BarSpan& Span() const { return span_; }
    // The value the MC last took, as the variable's type reads.
    void ShowValue(const QString& text);
    // Moves the bar as the user would: a new position is announced (BarMoved).
    void MoveBar(int position);
    // Puts the bar back to the value the MC holds after a write failed: going back is no
    // request of the user's, so nothing is announced.
    void PutBarBack(int position);

Q_SIGNALS:
    // The bar stands at a new position, moved by the user or by MoveBar; Span() says what it
    // stands for.
    void BarMoved(int position);

private:
    TCheckBox* check_ = nullptr;
    TComboBox* name_ = nullptr;
    QLineEdit* value_ = nullptr;
    QSlider* bar_ = nullptr;
    bool puttingBack_ = false;
    BarSpan span_;
};

} // namespace scope
