#pragma once

#include "core/Clock.h"
#include "core/SoundPlayer.h"

#include <QDateTime>
#include <QStringList>

// A clock whose date and time the test sets; its tick count is the real one, so waits still end.
class FakeClock final : public Clock {
public:
    QDateTime current = QDateTime(QDate(2026, 12, 9), QTime(14, 30, 15));
    QDateTime now() const override { return current; }
    std::uint32_t tickCount() const override { return real_.tickCount(); }

private:
    SystemClock real_;
};

// Records the sounds the program asked for.
class RecordingSoundPlayer final : public SoundPlayer {
public:
    QStringList played;
    void play(const QString& bareFileName) override { played << bareFileName; }
};
