#include "platform/Clock.h"

#include <algorithm>

QDateTime SystemClock::now()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms < checkedAt_ || ms >= validUntil_) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
        offset_ = local.offsetFromUtc();
        checkedAt_ = ms;
        validUntil_ = ms + 1000;
        const QTimeZone::OffsetData next = zone_.nextTransition(local);
        if (next.atUtc.isValid())
            validUntil_ = std::clamp(next.atUtc.toMSecsSinceEpoch(), ms + 1, validUntil_);
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset_);
}
