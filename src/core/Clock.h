#pragma once

#include <QDateTime>
#include <cstdint>

// The local date and time and a millisecond tick count that wraps at 2^32, as services so that tests
// can set the time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual std::uint32_t tickCount() const = 0;
};

// The busy wait that keeps the user interface alive (the module's delay): processes events, sleeping
// until one comes, until more than the given milliseconds of the clock's tick count have passed.
void ProcessEventsFor(const Clock& clock, int milliseconds);

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    std::uint32_t tickCount() const override;
};
