// The trace area: the paint box and the off-screen trace bitmap behind it. It paints what it is
// told, stroke by stroke, and decides nothing: where sweeps end, which statistics to show and
// when a single sweep stops come from the engine's batches through the window. A channel's
// pen positions (TChannel's lastX, lastY and restart) are the only state the strokes move.
#pragma once

#include "../trace_paint.h"
#include "scope/controls.h"
#include "scope/scope_window.h"

#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace scope {

class TCanvas;

class TracePanel : public TPaintBox {
    Q_OBJECT
public:
    explicit TracePanel(QWidget* parent);
    ~TracePanel() override;
    TracePanel(const TracePanel&) = delete;
    TracePanel& operator=(const TracePanel&) = delete;

    // The bitmap at the paint box's size, white, and shown.
    void CreateBitmap();
    const QImage& Bitmap() const { return bitmap_; }
    // Shows the live bitmap again (after a held view).
    void ShowLive() { SetBitmap(&bitmap_); }

    void Clear();
    void Grid(int divisions);
    // Copies what was painted since the last copy to the screen.
    void CopyChanges();

    // Time mode: the strokes of a channel's samples go between these two.
    void BeginStrokes();
    void EndStrokes();
    // Paints one sample's lanes against the sweep's origin. With endsSweep it stops at the first
    // lane drawn and returns it: the sweep ends there and NewSweep goes on with the rest;
    // otherwise returns 0.
    // A typed channel's row comes from typed, over the channel's range.
    int StrokeSample(TChannel& c, std::uint8_t value, double typed, std::uint32_t stamp,
                     std::uint32_t origin, bool endsSweep);
    // A new sweep from origin on a cleared screen with its grid; the lanes after lane of the
    // sample that began it are painted.
    void NewSweep(TChannel& c, int lane, std::uint8_t value, double typed, std::uint32_t stamp,
                  std::uint32_t origin, int divisions);

    // x-y mode: a channel's points over its slots (those at or after cutoff when recentOnly).
    // Channel 1's redraw begins on a cleared screen with its grid.
    void PaintXY(TChannel& c, bool first, int divisions, bool recentOnly, std::uint32_t cutoff);

    // The names of the channels drawn, in their colours from the top left, and the
    // x-variable's at the bottom right (empty: none).
    // The typed channels' ranges at the right edge (nothing for none).
    void RangeLabels(const std::vector<EdgeRange>& ranges);

    struct LegendLine {
        QString name;
        QRgb colour;
    };
    void Legend(const std::vector<LegendLine>& lines, const QString& xName);

private:
    // The head of a lane's stroke: the hold at the last row; the row to go to, or -1 for a lane
    // the mask leaves out.
    int LaneHead(TChannel& c, int lane, std::uint8_t value, double typed, std::uint32_t stamp,
                 std::uint32_t origin);
    void LaneTail(TChannel& c, int lane, int y);

    QImage bitmap_;
    // The part of the bitmap painted since it was last copied to the screen.
    QRect dirty_;
    // The range labels painted since the screen was last cleared.
    std::vector<QRect> labels_;
    std::unique_ptr<TCanvas> canvas_;
};

} // namespace scope
