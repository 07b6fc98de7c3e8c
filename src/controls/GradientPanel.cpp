#include "controls/GradientPanel.h"

#include "controls/MulDiv.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>

void DrawGradient(QPainter& canvas, const QRect& rect, TColor top, TColor bottom) {
    const int h = rect.height();
    if (h <= 0 || rect.width() <= 0)
        return;
    const QColor t = top.Resolve();
    const QColor b = bottom.Resolve();
    const int from[3] = {t.red(), t.green(), t.blue()};
    const int d[3] = {b.red() - from[0], b.green() - from[1], b.blue() - from[2]};

    int n = h + 1;
    for (int delta : d) {
        const int a = std::abs(delta);
        if (a > 0 && a < n)
            n = a;
    }
    n = std::min(n, 255);

    canvas.save();
    canvas.setPen(Qt::NoPen);
    for (int i = 0; i <= n; ++i) {
        const int y0 = rect.top() + MulDiv(i, h, n + 1);
        const int y1 = rect.top() + MulDiv(i + 1, h, n + 1);
        if (y1 <= y0)
            continue;
        const QColor c((from[0] + MulDiv(i, d[0], n)) & 0xFF, (from[1] + MulDiv(i, d[1], n)) & 0xFF,
                       (from[2] + MulDiv(i, d[2], n)) & 0xFF);
        canvas.fillRect(QRect(rect.left(), y0, rect.width(), y1 - y0), c);
    }
    canvas.restore();
}
