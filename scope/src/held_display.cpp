// Holding the display: the paint box stops at a moment while the acquisition goes on, and shows
// the engine's history of the last minute instead of the live sweep, zoomed around the pointer
// by the wheel, panned by a left drag, measured by two cursors with a readout in the variables'
// units. The live trace is drawn on meanwhile, off the screen, and shows again on resume.
#include "acquisition/channel_name.h"
#include "panels/channel_panel.h"
#include "panels/trace_panel.h"
#include "scope/dialogs.h"
#include "scope/scope_window.h"
#include "trace_paint.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImageWriter>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSaveFile>
#include <QWheelEvent>

#include <cmath>
#include <cstdlib>

namespace scope {

const char* const kPaintBoxHelp =
    "Click into the box for its keys. Space: hold / resume (also in the menu)\n"
    "While held: wheel zooms around the pointer, left drag pans, Home shows the last sweep,\n"
    "left click sets cursor A, Shift + right click sets cursor B; right click: menu";

namespace {

// Cursors are dotted lines in a colour no channel has.
constexpr QRgb kCursorColour = 0xFF404040;
constexpr QRgb kHoldColour = 0xFFFF0000;
// A left press that moves further than this is a drag, not a click.
constexpr int kDragPixels = 3;
constexpr double kWheelNotch = 120.0;

// Controls that take Space or Home themselves: a name box, a check box, a track bar ...
bool TakesKeys(const QWidget* focus) {
    return qobject_cast<const QAbstractButton*>(focus) != nullptr ||
           qobject_cast<const QAbstractSlider*>(focus) != nullptr ||
           qobject_cast<const QComboBox*>(focus) != nullptr ||
           qobject_cast<const QLineEdit*>(focus) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(focus) != nullptr ||
           qobject_cast<const QAbstractScrollArea*>(focus) != nullptr;
}

// Text on white at (x, y) in colour; returns the height it took.
int DrawTextAt(QPainter& painter, int x, int y, const QString& text, QRgb colour) {
    const QFontMetrics metrics(painter.font());
    painter.setPen(QColor::fromRgba(colour));
    painter.drawText(QRect(x, y, metrics.horizontalAdvance(text) + 1, metrics.height()),
                     Qt::AlignLeft | Qt::AlignTop, text);
    return metrics.height() + 1;
}

// The held channels' ranges, as they were when the view was held.
void DrawRangeLabels(QPainter& painter, const THeldView& v) {
    std::vector<EdgeRange> ranges;
    for (int i = 1; i <= 3; ++i) {
        const THeldChannel& c = v.channels[static_cast<std::size_t>(i)];
        if (c.shown && c.range) {
            ranges.push_back({RangeLabelText(*c.range, c.conversion), c.colour});
        }
    }
    DrawRangeLabels(painter, ranges, v.image.width(), v.image.height());
}

} // namespace

void ScopeWindow::BindInspection() {
    connect(hold_, &QAction::triggered, this, [this] { HoldClick(); });
    connect(saveImage_, &QAction::triggered, this, [this] { SaveImageClick(); });
    trace_->setFocusPolicy(Qt::ClickFocus);
    trace_->setToolTip(kPaintBoxHelp);
    trace_->installEventFilter(this);
}

void ScopeWindow::HoldClick() {
    if (held_.on || trace_->Bitmap().isNull()) {
        held_ = THeldView{};
        trace_->ShowLive();
        hold_->setChecked(false);
        return;
    }
    held_.on = true;
    held_.timeMode = channels_[0].active == 0;
    held_.divisions = GridDivisionsNow();
    std::optional<std::int64_t> newest;
    if (held_.timeMode) {
        held_.traces = driver_->SampleHistory().Snapshot();
        for (int i = 1; i <= 3; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const TChannel& c = channels_[at];
            const acq::ChannelTrace& trace = held_.traces[at];
            THeldChannel& h = held_.channels[at];
            // Channel 1 counts while stopped: an ended single sweep is inspected too.
            h.shown = c.resolved && (i == 1 || c.active != 0) && trace.Size() > 0;
            if (!h.shown) {
                continue;
            }
            h = {true, c.name, c.colour, c.mask, c.binary != 0, ChannelConversion(i), {}};
            // A history without typed values (an engine that reads bytes only) shows its bytes.
            const bool typed = trace.typed.size() == trace.Size();
            h.conversion.typed = h.conversion.typed && typed;
            if (c.scale.On() && c.binary == 0 && typed) {
                h.range = c.scale.Range();
            }
            newest = std::max(newest.value_or(trace.times.back()), trace.times.back());
        }
    }
    if (!newest) {
        // Nothing in the history to look back at (x-y mode, nothing read yet): the picture.
        held_.timeMode = false;
        held_.frozen = trace_->Bitmap().copy();
    } else {
        const auto span = static_cast<std::int64_t>(kSweepSpanMs * 1000);
        // The sweep on the screen, as it was; without one, the last sweep's worth of samples.
        const std::int64_t start =
            sweepStartUs_ && *sweepStartUs_ <= *newest ? *sweepStartUs_ : *newest - span;
        held_.home = {start, span};
        held_.limits = LimitsOf(held_.traces, held_.home);
        held_.view = held_.home;
    }
    RenderHeld();
    trace_->SetBitmap(&held_.image);
    hold_->setChecked(true);
}

Conversion ScopeWindow::ChannelConversion(int index) const {
    const TChannel& c = channels_[static_cast<std::size_t>(index)];
    acq::ResolvedChannel resolved;
    const bool named = c.resolved && acq::ResolveChannelName(variables_, c.name, resolved);
    Conversion conversion = ConversionOf(named ? resolved.variable : nullptr, c.mask);
    conversion.typed = c.scale.On();
    return conversion;
}

void ScopeWindow::ShowPhysicalStatistics(int index) {
    const Conversion conversion = ChannelConversion(index);
    const TChannel& c = channels_[static_cast<std::size_t>(index)];
    const auto tip = [&conversion](double raw) {
        return conversion.physical
                   ? QString::fromStdString(ValueText(PhysicalValue(raw, conversion), conversion))
                   : QString();
    };
    channelPanels_[static_cast<std::size_t>(index)]->ShowStatisticsTips(
        tip(c.statistics.minimum), tip(c.statistics.maximum), tip(c.statistics.average));
}

void ScopeWindow::DrawHeldTrace(QPainter& painter, int index) {
    const auto at = static_cast<std::size_t>(index);
    const THeldChannel& c = held_.channels[at];
    const int w = held_.image.width();
    const int h = held_.image.height();
    painter.setPen(ChannelPen(c.colour, c.binary));
    if (c.range) {
        DrawTypedColumns(painter, DecimateTyped(held_.traces[at], held_.view, w), *c.range, h);
        return;
    }
    const std::vector<ColumnSpan> columns = Decimate(held_.traces[at], held_.view, w);
    const int lanes = c.binary ? 8 : 1;
    for (int r = 1; r <= lanes; ++r) {
        if (c.binary && LaneMaskedOut(c.mask, r)) {
            continue;
        }
        const auto row = [&](std::uint8_t v) {
            return c.binary ? BitLaneY(v, r, h) : AnalogueRow(v, h);
        };
        // Bits hold their level until the next sample; bytes are joined by straight lines.
        const bool steps = c.binary || c.mask != 0;
        const auto bit = static_cast<std::uint8_t>(1u << (r - 1));
        for (std::size_t k = 0; k < columns.size(); ++k) {
            const ColumnSpan& s = columns[k];
            if (k > 0) {
                const ColumnSpan& p = columns[k - 1];
                if (steps) {
                    painter.drawLine(p.column, row(p.last), s.column, row(p.last));
                    painter.drawLine(s.column, row(p.last), s.column, row(s.first));
                } else {
                    painter.drawLine(p.column, row(p.last), s.column, row(s.first));
                }
            }
            const bool both =
                c.binary ? (s.anySet & bit) != 0 && (s.allSet & bit) == 0 : s.low != s.high;
            if (both) {
                painter.drawLine(s.column, row(c.binary ? 0 : s.low), s.column,
                                 row(c.binary ? 255 : s.high));
            } else if (columns.size() == 1) {
                painter.drawPoint(s.column, row(s.first));
            }
        }
    }
}

void ScopeWindow::RenderHeld() {
    THeldView& v = held_;
    if (!v.timeMode) {
        v.image = v.frozen.copy();
    } else {
        v.image = QImage(trace_->Bitmap().size(), QImage::Format_RGB32);
    }
    QPainter painter(&v.image);
    painter.setFont(LegendFont());
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const int w = v.image.width();
    const int h = v.image.height();
    const QFontMetrics metrics(painter.font());
    if (v.timeMode) {
        ClearWith(painter, v.image);
        GridWith(painter, v.divisions, w, h);
        for (int i = 1; i <= 3; ++i) {
            if (v.channels[static_cast<std::size_t>(i)].shown) {
                DrawHeldTrace(painter, i);
            }
        }
        QPen dotted(QColor::fromRgba(kCursorColour));
        dotted.setCapStyle(Qt::FlatCap);
        dotted.setDashPattern({2.0, 2.0});
        const std::pair<std::optional<std::int64_t>, QString> cursors[] = {{v.cursorA, "A"},
                                                                           {v.cursorB, "B"}};
        for (const auto& [cursor, label] : cursors) {
            if (!cursor) {
                continue;
            }
            const double x = std::floor(ColumnOfTime(*cursor, v.view, w));
            if (x < 0 || x >= w) {
                continue;
            }
            const int column = static_cast<int>(x);
            painter.setPen(dotted);
            painter.drawLine(QPointF(column + 0.5, 0), QPointF(column + 0.5, h));
            DrawTextAt(painter, column + 2, h - 2 * metrics.height() - 2, label, kCursorColour);
        }
        // One row per channel in its colour, then the time between the cursors.
        int y = 0;
        for (int i = 1; i <= 3; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const THeldChannel& c = v.channels[at];
            if (c.shown) {
                const std::string row =
                    ChannelReadout(c.name, v.traces[at], v.cursorA, v.cursorB, c.conversion);
                y += DrawTextAt(painter, 0, y, QString::fromStdString(row), c.colour);
            }
        }
        DrawRangeLabels(painter, v);
        const std::string dt = TimeReadout(v.cursorA, v.cursorB);
        if (!dt.empty()) {
            DrawTextAt(painter, 0, y, QString::fromStdString(dt), kCursorColour);
        }
        DrawTextAt(painter, 0, h - metrics.height() - 1,
                   QString::fromStdString(TimeScaleText(v.view.spanUs, v.divisions)), kGridColour);
    }
    QFont bold = painter.font();
    bold.setBold(true);
    painter.setFont(bold);
    const QString mark = "HOLD";
    DrawTextAt(painter, w - QFontMetrics(bold).horizontalAdvance(mark) - 3, 1, mark, kHoldColour);
    painter.end();
    trace_->update();
}

bool ScopeWindow::PaintBoxInput(QEvent* event) {
    const bool inspecting = held_.on && held_.timeMode;
    const int w = held_.image.width();
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        trace_->setFocus(Qt::MouseFocusReason);
        if (!inspecting) {
            return false;
        }
        if (mouse->button() == Qt::LeftButton) {
            held_.pressAt = mouse->position().toPoint();
            held_.pressView = held_.view;
            held_.dragged = false;
            return true;
        }
        if (mouse->button() == Qt::RightButton && (mouse->modifiers() & Qt::ShiftModifier) != 0) {
            held_.cursorB = TimeOfColumn(mouse->position().x(), held_.view, w);
            RenderHeld();
            return true;
        }
        return false;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!inspecting || !held_.pressAt) {
            return false;
        }
        const double dx = mouse->position().x() - held_.pressAt->x();
        held_.dragged = held_.dragged || std::abs(dx) > kDragPixels;
        if (held_.dragged) {
            held_.view = PanBy(held_.pressView, dx, w, held_.limits);
            RenderHeld();
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!inspecting || !held_.pressAt || mouse->button() != Qt::LeftButton) {
            return false;
        }
        if (!held_.dragged) {
            held_.cursorA = TimeOfColumn(mouse->position().x(), held_.view, w);
            RenderHeld();
        }
        held_.pressAt.reset();
        return true;
    }
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (!inspecting || wheel->angleDelta().y() == 0) {
            return false;
        }
        // A touchpad's fractions of a notch count as one: every turn moves a step.
        const double notches = wheel->angleDelta().y() / kWheelNotch;
        const int steps = static_cast<int>(notches > 0 ? std::ceil(notches) : std::floor(notches));
        held_.view =
            ZoomSteps(held_.view, wheel->position().x(), w, steps, held_.divisions, held_.limits);
        RenderHeld();
        return true;
    }
    case QEvent::ContextMenu:
        // Shift + right click is cursor B; the plain right click keeps its menu.
        return inspecting &&
               (static_cast<QContextMenuEvent*>(event)->modifiers() & Qt::ShiftModifier) != 0;
    default:
        return false;
    }
}

bool ScopeWindow::InspectionKey(QKeyEvent* event) {
    if ((event->modifiers() & ~Qt::KeypadModifier) != 0 || TakesKeys(focusWidget())) {
        return false;
    }
    if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat()) {
            HoldClick();
        }
        return true;
    }
    if (event->key() == Qt::Key_Home && held_.on && held_.timeMode) {
        held_.view = held_.home;
        RenderHeld();
        return true;
    }
    return false;
}

void ScopeWindow::keyPressEvent(QKeyEvent* event) {
    if (InspectionKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

QImage ScopeWindow::ScreenImage() {
    if (held_.on) {
        return held_.image;
    }
    DrawLegend();
    return trace_->Bitmap();
}

bool ScopeWindow::SaveImageFile(const std::string& path, std::string& error) {
    const QImage image = ScreenImage();
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        error = writer.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

void ScopeWindow::SaveImageClick() {
    if (trace_->Bitmap().isNull()) {
        return;
    }
    FileDialogRequest request;
    request.save = true;
    request.title = "Save Image";
    request.filter = "PNG image (*.png)";
    request.defaultSuffix = "png";
    // A file name in the folder: the dialog opens there with the name proposed.
    request.folder = StampedFileName(settingsFolder_, ".png");
    QString chosen = ShowFileDialog(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    if (QFileInfo(chosen).suffix().isEmpty()) {
        chosen += ".png";
    }
    std::string error;
    if (!SaveImageFile(chosen.toStdString(), error)) {
        ShowInformation(this, QString("The image could not be saved to %1:\n%2")
                                  .arg(chosen, QString::fromStdString(error)));
    }
}

} // namespace scope
