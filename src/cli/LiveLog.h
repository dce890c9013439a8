#pragma once

// The live logger of "decimora-cli live": runs the meter link's live run as the measurement window
// does (a request every interval), takes each reading when SaveRead announces it with WM_NEWREADING,
// and hands it to a sink. Without the meter it waits,
// says so on the error output, and goes on when the meter is back.

#include "cli/LiveOutput.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

class MeterSession;

class LiveLog final : public QObject {
    Q_OBJECT

public:
    // The shortest and longest pause between two requests, in milliseconds. The meter answers a
    // request within the 260 ms the setup window allows it, and the read thread passes the reply on
    // as soon as it comes (its 100 ms SleepTime only paces its checks for a stop), so a request every
    // 300 ms lets each reply arrive before the next request goes out.
    static constexpr int ShortestIntervalMs = 300;
    static constexpr int LongestIntervalMs = 3600 * 1000;

    // Notes go to the error output through note; the sink gets the readings.
    LiveLog(MeterSession& session, LiveReadingSink& sink, std::function<void(const QString&)> note);
    ~LiveLog() override;

    // Holds the meter for readings and sends the first request at once, then one every interval;
    // waits for a meter that is not there. False while another activity holds the meter.
    bool start(int intervalMs);
    // Gives the meter back and finishes the sink. Idempotent.
    void stop();
    // One request now, as a tick of the timer sends it; nothing without the meter.
    void requestReading();

    std::int64_t readingCount() const { return readings_; }

signals:
    // The sink refused a reading (the text says why); the logger has stopped.
    void failed(const QString& text);

protected:
    bool event(QEvent* event) override;

private:
    void tick();
    void takeReading();
    void meterMayHaveChanged();

    MeterSession& session_;
    LiveReadingSink& sink_;
    std::function<void(const QString&)> note_;
    QTimer timer_;
    bool running_ = false;
    // What the user was last told about the meter, so that each change is said once.
    enum class Told { Nothing, Connected, Missing, WithoutAccess } told_ = Told::Nothing;
    bool everConnected_ = false;
    std::int64_t readings_ = 0;
};
