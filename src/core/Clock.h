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

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    std::uint32_t tickCount() const override;
};
