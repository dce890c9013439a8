#include "core/Clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

std::uint32_t SystemClock::tickCount() const
{
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count());
}

void ProcessEventsFor(const Clock& clock, int milliseconds)
{
    const std::uint32_t start = clock.tickCount();
    QTimer wakeUp;
    wakeUp.setSingleShot(true);
    for (;;) {
        const std::uint32_t now = clock.tickCount();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const auto elapsed = static_cast<std::int32_t>(now - start);
        if (elapsed > milliseconds)
            return;
        // Sleep until something happens or the interval is over, instead of spinning.
        wakeUp.start(std::max(1, milliseconds - elapsed));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
