// Painting the typed traces of the held view and the ranges at the trace's edge.
#include "trace_paint.h"

#include <QFontMetrics>

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

std::vector<QRect> DrawRangeLabels(QPainter& painter, const std::vector<EdgeRange>& ranges, int w,
                                   int h) {
    std::vector<QRect> painted;
    const QFont font = LegendFont();
    painter.save();
    painter.setFont(font);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const QFontMetrics metrics(font);
    const int line = metrics.height() + 1;
    int n = 1;
    for (const EdgeRange& r : ranges) {
        painter.setPen(QColor::fromRgba(r.colour));
        const int ys[2] = {n * line, h - (n + 1) * line};
        const std::string* texts[2] = {&r.label.top, &r.label.bottom};
        for (int i = 0; i < 2; ++i) {
            const QString text = QString::fromStdString(*texts[i]);
            const int width = metrics.horizontalAdvance(text) + 1;
            const QRect at(w - width - 1, ys[i], width, metrics.height());
            painter.drawText(at, Qt::AlignLeft | Qt::AlignTop, text);
            painted.push_back(at);
        }
        ++n;
    }
    painter.restore();
    return painted;
}

} // namespace scope
