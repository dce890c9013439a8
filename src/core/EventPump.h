#pragma once

// Long work on the user-interface thread (an export, a print, a load) calls an EventPump often; every
// so often it lets the program handle the events that have come meanwhile (paints, the window
// manager, timers), so that the program keeps answering and no stretch without events lasts long
// enough for a user to notice. In between a call costs a look at the clock.

#include <QCoreApplication>
#include <QElapsedTimer>

class EventPump {
public:
    // Events are handled after this many milliseconds of work.
    static constexpr int EveryMs = 40;

    EventPump() { sinceEvents_.start(); }

    // Whether EveryMs have passed since the events were last handled.
    bool due() const { return sinceEvents_.elapsed() >= EveryMs; }
    // Handles the pending events when they are due.
    void operator()()
    {
        if (!due())
            return;
        QCoreApplication::processEvents();
        sinceEvents_.restart();
    }

private:
    QElapsedTimer sinceEvents_;
};
