// The painting helpers the live trace and the held view share.
#pragma once

#include "scope/scope_window.h"

#include <QFont>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <vector>

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

// A typed trace's columns over range, joined by straight lines, each column's spread upright.
void DrawTypedColumns(QPainter& painter, const std::vector<TypedColumn>& columns,
                      const ValueRange& range, int h);
// The ranges of the typed channels at the right edge in their colours, the top value at the
// top and the bottom value at the bottom; the n-th typed channel takes the n-th line from
// either edge (the first and last lines are the HOLD mark's and the x-variable's). Each label
// is painted on white; returns where they were painted.
struct EdgeRange {
    RangeLabel label;
    QRgb colour = 0;
};
std::vector<QRect> DrawRangeLabels(QPainter& painter, const std::vector<EdgeRange>& ranges, int w,
                                   int h);

} // namespace scope
