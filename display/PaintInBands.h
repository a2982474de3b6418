#pragma once
// The raster painter hands a fill of 96 rows or more to Qt's painting threads
// and waits for them: two thread wake-ups and a dozen futex calls for what
// the calling thread copies in a few microseconds. An area painted as bands
// of fewer rows stays on the calling thread, with the same pixels.
#include <QRect>

#include <algorithm>

template <typename Paint>
void PaintInBands(const QRect& area, Paint paint)
{
    constexpr int kRows = 64;
    for (int top = area.top(); top <= area.bottom(); top += kRows)
        paint(QRect(area.left(), top, area.width(), std::min(kRows, area.bottom() - top + 1)));
}
