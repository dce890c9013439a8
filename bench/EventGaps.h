#pragma once

// How long the user-interface thread went without handling events: a timer of interval 0 fires at
// every turn of the event loop (and at every processEvents), and the longest time between two of its
// ticks is the longest stretch in which the program would not have answered a click or a repaint.

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

class EventGaps {
public:
    EventGaps()
    {
        tick_.setInterval(0);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        clock_.start();
        tick_.start();
    }
    double longestMs() const { return static_cast<double>(std::max(longest_, clock_.nsecsElapsed() - last_)) / 1e6; }

private:
    QTimer tick_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};
