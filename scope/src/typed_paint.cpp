// Painting the typed traces of the held view and the ranges at the trace's edge.
#include "trace_paint.h"

#include <QFontMetrics>

#include <algorithm>

namespace scope {

void DrawTypedColumns(QPainter& painter, const std::vector<TypedColumn>& columns,
                      const ValueRange& range, int h) {
    const auto row = [&](double v) { return TypedRow(v, range, h); };
    for (std::size_t k = 0; k < columns.size(); ++k) {
        const TypedColumn& s = columns[k];
        if (k > 0) {
            const TypedColumn& p = columns[k - 1];
            painter.drawLine(p.column, row(p.last), s.column, row(s.first));
        }
        if (s.low != s.high) {
            painter.drawLine(s.column, row(s.low), s.column, row(s.high));
        } else if (columns.size() == 1) {
            painter.drawPoint(s.column, row(s.first));
        }
    }
}

void DrawRangeLabels(QPainter& painter, const std::vector<EdgeRange>& ranges, int w, int h) {
    const QFont font = LegendFont();
    painter.save();
    painter.setFont(font);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const QFontMetrics metrics(font);
    const int line = metrics.height() + 1;
    // Wide enough for the widest label any of the types gives, so a new label covers the old.
    const int clear = metrics.horizontalAdvance("-2147483648 WWWWW") + 2;
    int n = 1;
    for (const EdgeRange& r : ranges) {
        painter.setPen(QColor::fromRgba(r.colour));
        const int ys[2] = {n * line, h - (n + 1) * line};
        const std::string* texts[2] = {&r.label.top, &r.label.bottom};
        for (int i = 0; i < 2; ++i) {
            const QString text = QString::fromStdString(*texts[i]);
            const int width = metrics.horizontalAdvance(text) + 1;
            painter.fillRect(
                QRect(w - clear, ys[i], std::max(0, clear - width - 1), metrics.height()),
                Qt::white);
            painter.drawText(QRect(w - width - 1, ys[i], width, metrics.height()),
                             Qt::AlignLeft | Qt::AlignTop, text);
        }
        ++n;
    }
    painter.restore();
}

} // namespace scope
