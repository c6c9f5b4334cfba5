// The painting helpers the live trace and the held view share.
#pragma once

#include "scope/scope_window.h"

#include <QFont>
#include <QImage>
#include <QPainter>

#include <cstdint>

namespace scope {

// Plain pixels, so the copy reads the same on any background.
QFont LegendFont();
void ClearWith(QPainter& painter, const QImage& image);
// The dotted grid: 7 rows, divisions - 1 columns.
void GridWith(QPainter& painter, int divisions, int w, int h);
// A bit display leaves out the lanes a channel's mask does not hold.
bool LaneMaskedOut(std::uint8_t mask, int lane);
bool LaneMaskedOut(const TChannel& c, int lane);
// The lanes of a channel a sample is drawn in: one, or the bit lanes its mask keeps.
int LanesDrawn(const TChannel& c);
// A bit display draws its lanes twice as thick.
QPen ChannelPen(QRgb colour, bool binary);

} // namespace scope
