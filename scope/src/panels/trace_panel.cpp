#include "trace_panel.h"

#include "../trace_paint.h"

#include <QFontMetrics>
#include <QPainter>

#include <cstdlib>

namespace scope {

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

int LanesDrawn(const TChannel& c) {
    if (c.binary == 0) {
        return 1;
    }
    int lanes = 0;
    for (int r = 1; r <= 8; ++r) {
        lanes += LaneMaskedOut(c, r) ? 0 : 1;
    }
    return lanes;
}

QPen ChannelPen(QRgb colour, bool binary) {
    QPen pen(QColor::fromRgba(colour));
    pen.setWidth(binary ? 2 : 1);
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

namespace {

void SetChannelPen(QPainter& painter, const TChannel& c) {
    painter.setPen(ChannelPen(c.colour, c.binary != 0));
}

} // namespace

TracePanel::TracePanel(QWidget* parent) : TPaintBox(parent) {}

TracePanel::~TracePanel() = default;

void TracePanel::CreateBitmap() {
    // Opaque pixels in the screen's own layout: the copy to the screen is a plain block copy,
    // with no alpha to blend.
    bitmap_ = QImage(width(), height(), QImage::Format_RGB32);
    bitmap_.fill(Qt::white);
    SetBitmap(&bitmap_);
}

void TracePanel::Clear() {
    labels_.clear();
    QPainter painter(&bitmap_);
    ClearWith(painter, bitmap_);
    dirty_ = bitmap_.rect();
}

void TracePanel::Grid(int divisions) {
    dirty_ = bitmap_.rect();
    QPainter painter(&bitmap_);
    GridWith(painter, divisions, bitmap_.width(), bitmap_.height());
}

void TracePanel::CopyChanges() {
    // Only what changed since the last copy needs to reach the screen; a burst touches a
    // narrow strip of the sweep.
    CopyToScreen(dirty_ & bitmap_.rect());
    dirty_ = QRect();
}

void TracePanel::BeginStrokes() {
    canvas_ = std::make_unique<TCanvas>(bitmap_, dirty_);
}

void TracePanel::EndStrokes() {
    canvas_.reset();
}

int TracePanel::LaneHead(TChannel& c, int lane, std::uint8_t value, double typed,
                         std::uint32_t stamp, std::uint32_t origin) {
    const auto r = static_cast<std::size_t>(lane);
    TCanvas& canvas = *canvas_;
    canvas.MoveTo(c.restart != 0 ? 0 : c.lastX[r], c.lastY[r]);
    c.lastX[r] = TimeColumn(stamp, origin, bitmap_.width());
    const int h = bitmap_.height();
    // Holds are part of the channel's trace and take its pen; the pen the previous stroke
    // left may be another channel's or the grid's.
    if (c.binary != 0) {
        if (LaneMaskedOut(c, lane)) {
            return -1;
        }
        SetChannelPen(canvas.Painter(), c);
        canvas.LineTo(c.lastX[r], c.lastY[r]);
        c.lastY[r] = BitLaneY(value, lane, h);
        return c.lastY[r];
    }
    const int y = c.scale.On() ? TypedRow(typed, c.scale.Range(), h) : AnalogueRow(value, h);
    const int previous = c.lastY[r];
    const int jump = std::abs(y - previous);
    if (c.mask != 0 || jump >= kJumpRows) {
        SetChannelPen(canvas.Painter(), c);
        canvas.LineTo(c.lastX[r], previous);
    }
    c.lastY[r] = y;
    return jump >= kJumpRows ? previous : y;
}

void TracePanel::LaneTail(TChannel& c, int lane, int y) {
    const auto r = static_cast<std::size_t>(lane);
    if (c.restart != 0) {
        canvas_->MoveTo(c.lastX[r], y);
    } else {
        SetChannelPen(canvas_->Painter(), c);
        canvas_->LineTo(c.lastX[r], y);
    }
}

int TracePanel::StrokeSample(TChannel& c, std::uint8_t value, double typed, std::uint32_t stamp,
                             std::uint32_t origin, bool endsSweep) {
    const int lanes = c.binary != 0 ? 8 : 1;
    for (int lane = 1; lane <= lanes; ++lane) {
        const int y = LaneHead(c, lane, value, typed, stamp, origin);
        if (y < 0) {
            continue;
        }
        if (endsSweep) {
            // The sample lies beyond the right edge.
            return lane;
        }
        LaneTail(c, lane, y);
    }
    return 0;
}

void TracePanel::NewSweep(TChannel& c, int lane, std::uint8_t value, double typed,
                          std::uint32_t stamp, std::uint32_t origin, int divisions) {
    const int w = bitmap_.width();
    c.lastX[static_cast<std::size_t>(lane)] = TimeColumn(stamp, origin, w);
    ClearWith(canvas_->Painter(), bitmap_);
    labels_.clear();
    dirty_ = bitmap_.rect();
    GridWith(canvas_->Painter(), divisions, w, bitmap_.height());
    const int lanes = c.binary != 0 ? 8 : 1;
    for (int next = lane + 1; next <= lanes; ++next) {
        const int y = LaneHead(c, next, value, typed, stamp, origin);
        if (y >= 0) {
            LaneTail(c, next, y);
        }
    }
}

void TracePanel::PaintXY(TChannel& c, bool first, int divisions, bool recentOnly,
                         std::uint32_t cutoff) {
    const int lanes = c.binary != 0 ? 8 : 1;
    const int w = bitmap_.width();
    const int h = bitmap_.height();
    TCanvas canvas(bitmap_, dirty_);
    if (first) {
        labels_.clear();
        ClearWith(canvas.Painter(), bitmap_);
        dirty_ = bitmap_.rect();
        GridWith(canvas.Painter(), divisions, w, h);
    }
    c.restart = 1;
    for (int i = 1; i <= kChannelSamples; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        if (c.times[slot] == 0 || (recentOnly && c.times[slot] < cutoff)) {
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
                c.lastY[lane] = c.scale.On() ? TypedRow(c.typedValues[slot], c.scale.Range(), h)
                                             : AnalogueRow(value, h);
            }
            if (c.restart != 0) {
                canvas.MoveTo(c.lastX[lane], c.lastY[lane]);
            } else {
                SetChannelPen(canvas.Painter(), c);
                canvas.LineTo(c.lastX[lane], c.lastY[lane]);
            }
        }
        c.restart = 0;
    }
}

void TracePanel::RangeLabels(const std::vector<EdgeRange>& ranges) {
    if (ranges.empty() && labels_.empty()) {
        return;
    }
    dirty_ = bitmap_.rect();
    QPainter painter(&bitmap_);
    // The labels painted since the screen was last cleared go first: a label that shrank
    // leaves nothing of the old one, and the grid beside the labels stays.
    for (const QRect& old : labels_) {
        painter.fillRect(old, Qt::white);
    }
    labels_ = DrawRangeLabels(painter, ranges, bitmap_.width(), bitmap_.height());
}

void TracePanel::Legend(const std::vector<LegendLine>& lines, const QString& xName) {
    dirty_ = bitmap_.rect();
    QPainter painter(&bitmap_);
    const QFont font = LegendFont();
    painter.setFont(font);
    // Names stay readable over the traces.
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const QFontMetrics metrics(font);
    int row = 0;
    for (const LegendLine& line : lines) {
        painter.setPen(QColor::fromRgba(line.colour));
        painter.drawText(QRect(0, row, metrics.horizontalAdvance(line.name) + 1, metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop, line.name);
        row += metrics.height() + 1;
    }
    if (!xName.isEmpty()) {
        const int textWidth = metrics.horizontalAdvance(xName);
        const int textHeight = metrics.height();
        painter.setPen(QColor::fromRgba(kGridColour));
        painter.drawText(QRect(bitmap_.width() - textWidth - 1, bitmap_.height() - textHeight - 1,
                               textWidth + 1, textHeight),
                         Qt::AlignLeft | Qt::AlignTop, xName);
    }
}

} // namespace scope
