// The pieces every panel is built from: controls with their object names (the settings files
// and the tests find them by these), at their places and sizes in the panel.
#pragma once

#include "scope/controls.h"
#include "scope/typed_range.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QRgb>
#include <QSlider>

namespace scope {

// A raised panel of the window.
void MakePanel(QFrame* panel, const QString& name, int x, int y, int w, int h);
QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption, int x, int y, int w,
                  int h = 13);
// Read-only: the panels' edits show values, the user never types into them.
QLineEdit* MakeEdit(QWidget* parent, const QString& name, int x, int y, int w);
TCheckBox* MakeCheck(QWidget* parent, const QString& name, int x, int y);
TComboBox* MakeCombo(QWidget* parent, const QString& name, int x, int y, int w);
// A bar over the byte range, one tick each sixteenth.
QSlider* MakeTrackBar(QWidget* parent, const QString& name, int x, int y, int w, int h);
// A bar over span's positions, a tick each sixteenth of them.
void SetBarSpan(QSlider* bar, const BarSpan& span);
// The panel writes in this colour: a channel's controls show which trace is theirs.
void SetPanelColour(QWidget* panel, QRgb colour);

} // namespace scope
