#pragma once
// Runs the event loop until `done()` holds or `limitMs` passed. The limit only
// keeps a broken test from hanging; nothing is asserted about time.
#include <QEventLoop>
#include <QTimer>
#include <functional>

inline bool RunUntil(const std::function<bool()>& done, int limitMs = 10000)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}
