// The trace display: time-mode sweeps drawn sample by sample, x-y redraws over the
// x-variable, analogue traces and eight-lane bit displays, the grid, the statistics edits, the
// rate and edge-count labels and the legend. Every stroke goes into the trace bitmap, which is
// then copied to PaintBox1 in one piece.
#include "foundation/statistics.h"
#include "scope/scope_window.h"
#include "trace_paint.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace scope {

namespace {

// A canvas with a pen position: a stroke runs from where the last one ended, as the drawing
// rules are written. It notes the part of the bitmap its strokes touched.
class TCanvas {
public:
    TCanvas(QImage& image, QRect& dirty) : painter_(&image), width_(image.width()), dirty_(dirty) {}

    QPainter& Painter() { return painter_; }
    void MoveTo(int x, int y) { at_ = QPointF(x, y); }
    void LineTo(int x, int y) {
        const QPointF to(x, y);
        QPointF a = at_;
        QPointF b = to;
        if (ClipToWidth(a, b)) {
            painter_.drawLine(a, b);
            // Pens are at most 2 pixels wide with square caps.
            dirty_ |= QRectF(a, b).normalized().toAlignedRect().adjusted(-2, -2, 3, 3);
        }
        at_ = to;
    }

private:
    // A sample far beyond the right edge (an unsigned time difference) gives a column of up
    // to a billion; such a line is cut at the edge so the rasteriser only sees small numbers.
    bool ClipToWidth(QPointF& a, QPointF& b) const {
        const double lo = -2;
        const double hi = width_ + 2;
        if ((a.x() < lo && b.x() < lo) || (a.x() > hi && b.x() > hi)) {
            return false;
        }
        auto cut = [&](QPointF& p, const QPointF& other) {
            const double edge = p.x() < lo ? lo : p.x() > hi ? hi : p.x();
            if (edge != p.x()) {
                const double f = (edge - other.x()) / (p.x() - other.x());
                p = QPointF(edge, other.y() + f * (p.y() - other.y()));
            }
        };
        const QPointF a0 = a;
        cut(a, b);
        cut(b, a0);
        return true;
    }

    QPainter painter_;
    int width_;
    QRect& dirty_;
    QPointF at_;
};

} // namespace

QFont LegendFont() {
    QFont font;
    // Plain pixels in the channel's own colour, so the copy reads the same on any background.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

void ClearWith(QPainter& painter, const QImage& image) {
    painter.fillRect(QRect(0, 0, image.width(), image.height()), Qt::white);
}

void GridWith(QPainter& painter, int divisions, int w, int h) {
    QPen dotted(QColor::fromRgba(kGridColour));
    dotted.setWidth(1);
    dotted.setCapStyle(Qt::FlatCap);
    dotted.setDashPattern({1.0, 1.0});
    painter.setPen(dotted);
    for (int i = 1; i <= 7; ++i) {
        const int y = GridRow(i, h);
        painter.drawLine(QPointF(0, y), QPointF(w, y));
    }
    for (int i = 1; i <= divisions - 1; ++i) {
        const int x = GridColumn(i, divisions, w);
        painter.drawLine(QPointF(x, 0), QPointF(x, h));
    }
    painter.setPen(Qt::SolidLine);
}

bool LaneMaskedOut(std::uint8_t mask, int lane) {
    return mask != 0 && ((mask >> (lane - 1)) & 1) == 0;
}

bool LaneMaskedOut(const TChannel& c, int lane) {
    return LaneMaskedOut(c.mask, lane);
}

QPen ChannelPen(QRgb colour, bool binary) {
    QPen pen(QColor::fromRgba(colour));
    pen.setWidth(binary ? 2 : 1);
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

void TForm1::SetChannelPen(QPainter& painter, const TChannel& c) const {
    painter.setPen(ChannelPen(c.colour, c.binary != 0));
}

void TForm1::ClearScreen() {
    QPainter painter(&traceBitmap_);
    ClearWith(painter, traceBitmap_);
    dirty_ = traceBitmap_.rect();
}

void TForm1::CopyToScreen() {
    // Only what changed since the last copy needs to reach the screen; a burst touches a
    // narrow strip of the sweep.
    PaintBox1->CopyToScreen(dirty_ & traceBitmap_.rect());
    dirty_ = QRect();
}

void TForm1::DrawGrid() {
    dirty_ = traceBitmap_.rect();
    QPainter painter(&traceBitmap_);
    GridWith(painter, GridDivisions(channels_[0].active != 0, VarNameX->Text()),
             traceBitmap_.width(), traceBitmap_.height());
}

void TForm1::ShowStatistics() {
    for (int i = 1; i <= 3; ++i) {
        TChannel& c = channels_[static_cast<std::size_t>(i)];
        if (c.count == 0) {
            continue;
        }
        foundation::StatFlush(c.statistics);
        const auto at = static_cast<std::size_t>(i);
        minEdits_[at]->setText(QString::number(T(c.statistics.minimum)));
        maxEdits_[at]->setText(QString::number(T(c.statistics.maximum)));
        avgEdits_[at]->setText(QString::number(N(c.statistics.average)));
        ShowPhysicalStatistics(i);
    }
}

void TForm1::WriteRateText(std::uint16_t rate) {
    RateLabel->setText(QString::fromStdString(RateText(rate)));
}

bool TForm1::DrawTimeSamples(int index, const acq::Batch& batch) {
    TChannel& c = channels_[static_cast<std::size_t>(index)];
    const int lanes = c.binary != 0 ? 8 : 1;
    const int w = traceBitmap_.width();
    const int h = traceBitmap_.height();
    auto end = batch.sweepEnds.begin();
    TCanvas canvas(traceBitmap_, dirty_);
    for (std::size_t k = 0; k < batch.samples.size(); ++k) {
        const acq::Sample& sample = batch.samples[k];
        if (sample.channel != index) {
            continue;
        }
        // The engine noted where sweeps end, in the order the samples are drawn.
        while (end != batch.sweepEnds.end() && batch.samples[end->sample].channel < index) {
            ++end;
        }
        const bool endsSweep = end != batch.sweepEnds.end() && end->sample == k;
        bool ended = false;
        const std::uint8_t value = sample.value;
        for (int r = 1; r <= lanes; ++r) {
            const auto lane = static_cast<std::size_t>(r);
            canvas.MoveTo(c.restart != 0 ? 0 : c.lastX[lane], c.lastY[lane]);
            c.lastX[lane] = TimeColumn(sample.stamp, sweepOrigin_, w);
            int y = 0;
            // Holds are part of the channel's trace and take its pen; the pen the previous
            // stroke left may be another channel's or the grid's.
            if (c.binary != 0) {
                if (LaneMaskedOut(c, r)) {
                    continue;
                }
                SetChannelPen(canvas.Painter(), c);
                canvas.LineTo(c.lastX[lane], c.lastY[lane]);
                y = BitLaneY(value, r, h);
                c.lastY[lane] = y;
            } else {
                y = AnalogueRow(value, h);
                const int previous = c.lastY[lane];
                const int jump = std::abs(y - previous);
                if (c.mask != 0 || jump >= kJumpRows) {
                    SetChannelPen(canvas.Painter(), c);
                    canvas.LineTo(c.lastX[lane], previous);
                }
                c.lastY[lane] = y;
                if (jump >= kJumpRows) {
                    y = previous;
                }
            }
            if (endsSweep && !ended) {
                // The sample lies beyond the right edge: the sweep ends here.
                ended = true;
                ShowStatistics();
                if (end->showRate) {
                    WriteRateText(batch.rate);
                }
                RestartChannel(index);
                for (int i = 1; i <= 3; ++i) {
                    channels_[static_cast<std::size_t>(i)].restart = 1;
                }
                if (end->stop) {
                    // The last sweep of a single run stays on the screen as it was.
                    for (int i = 1; i <= 3; ++i) {
                        channels_[static_cast<std::size_t>(i)].count = 0;
                    }
                    return false;
                }
                sweepOrigin_ = sample.stamp;
                sweepStartUs_ = sample.arrivalUs;
                c.lastX[lane] = TimeColumn(sample.stamp, sweepOrigin_, w);
                ClearWith(canvas.Painter(), traceBitmap_);
                dirty_ = traceBitmap_.rect();
                GridWith(canvas.Painter(),
                         GridDivisions(channels_[0].active != 0, VarNameX->Text()), w, h);
            } else if (c.restart != 0) {
                canvas.MoveTo(c.lastX[lane], y);
            } else {
                SetChannelPen(canvas.Painter(), c);
                canvas.LineTo(c.lastX[lane], y);
            }
            foundation::StatAdd(c.statistics, value);
        }
        c.restart = 0;
        if (endsSweep) {
            ++end;
        }
    }
    c.count = 0;
    canvas.Painter().end();
    CopyToScreen();
    return true;
}

void TForm1::DrawXYChannel(const acq::Redraw& redraw, const acq::Batch& batch) {
    const int index = redraw.channel;
    TChannel& c = channels_[static_cast<std::size_t>(index)];
    const int lanes = c.binary != 0 ? 8 : 1;
    const int w = traceBitmap_.width();
    const int h = traceBitmap_.height();
    TCanvas canvas(traceBitmap_, dirty_);
    if (index == 1) {
        ClearWith(canvas.Painter(), traceBitmap_);
        dirty_ = traceBitmap_.rect();
        GridWith(canvas.Painter(), GridDivisions(channels_[0].active != 0, VarNameX->Text()), w, h);
    }
    c.restart = 1;
    EdgeCountLabel->setText(QString::number(EdgeCount(c.values)));
    for (int i = 1; i <= kChannelSamples; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        // The points the engine counted: every filled slot, with RecentOnly the recent ones.
        if (c.times[slot] == 0 || (batch.recentOnly && c.times[slot] < batch.recentCutoff)) {
            continue;
        }
        const std::uint8_t value = c.values[slot];
        for (int r = 1; r <= lanes; ++r) {
            const auto lane = static_cast<std::size_t>(r);
            canvas.MoveTo(c.restart != 0 ? 0 : c.lastX[lane], c.lastY[lane]);
            c.lastX[lane] = XYColumn(i, w);
            if (c.binary != 0) {
                if (LaneMaskedOut(c, r)) {
                    continue;
                }
                SetChannelPen(canvas.Painter(), c);
                canvas.LineTo(c.lastX[lane], c.lastY[lane]);
                c.lastY[lane] = BitLaneY(value, r, h);
            } else {
                if (c.mask != 0) {
                    SetChannelPen(canvas.Painter(), c);
                    canvas.LineTo(c.lastX[lane], c.lastY[lane]);
                }
                c.lastY[lane] = AnalogueRow(value, h);
            }
            if (c.restart != 0) {
                canvas.MoveTo(c.lastX[lane], c.lastY[lane]);
            } else {
                SetChannelPen(canvas.Painter(), c);
                canvas.LineTo(c.lastX[lane], c.lastY[lane]);
            }
            foundation::StatAdd(c.statistics, value);
        }
        c.restart = 0;
    }
    canvas.Painter().end();
    const auto at = static_cast<std::size_t>(index);
    minEdits_[at]->setText(QString::number(T(c.statistics.minimum)));
    maxEdits_[at]->setText(QString::number(T(c.statistics.maximum)));
    foundation::StatFlush(c.statistics);
    avgEdits_[at]->setText(QString::number(N(c.statistics.average)));
    ShowPhysicalStatistics(index);
    if (redraw.showRate) {
        WriteRateText(batch.rate);
    }
    // The redraw that stops a single sweep is not copied to the screen.
    if (!redraw.stop) {
        CopyToScreen();
    }
}

void TForm1::DrawLegend() {
    dirty_ = traceBitmap_.rect();
    QPainter painter(&traceBitmap_);
    const QFont font = LegendFont();
    painter.setFont(font);
    // Names stay readable over the traces.
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const QFontMetrics metrics(font);
    int row = 0;
    for (int i = 1; i <= 3; ++i) {
        const TChannel& c = channels_[static_cast<std::size_t>(i)];
        if (!Sampled(i)) {
            continue;
        }
        const QString name = QString::fromStdString(c.name);
        painter.setPen(QColor::fromRgba(c.colour));
        painter.drawText(QRect(0, row, metrics.horizontalAdvance(name) + 1, metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop, name);
        row += metrics.height() + 1;
    }
    if (channels_[0].active != 0) {
        const QString name = QString::fromStdString(channels_[0].name);
        const int textWidth = metrics.horizontalAdvance(name);
        const int textHeight = metrics.height();
        painter.setPen(QColor::fromRgba(kGridColour));
        painter.drawText(QRect(traceBitmap_.width() - textWidth - 1,
                               traceBitmap_.height() - textHeight - 1, textWidth + 1, textHeight),
                         Qt::AlignLeft | Qt::AlignTop, name);
    }
}

} // namespace scope
