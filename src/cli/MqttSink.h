#pragma once

// The MQTT destinations of "decimora-cli live --mqtt": every reading to a broker, and a sink that
// passes each reading to two others (lines to a file and the broker at once).

#include "cli/LiveOutput.h"
#include "mqtt/MqttPublisher.h"

#include <QElapsedTimer>
#include <QObject>

#include <chrono>
#include <functional>

class MqttSink final : public QObject, public LiveReadingSink {
    Q_OBJECT

public:
    // How long the end waits for the broker to take what is still queued. systemd gives a service
    // 90 s to stop; a broker that is away at the end should not hold the tool much longer than this.
    static constexpr std::chrono::milliseconds FlushAtEnd { 10000 };

    // The publisher starts connecting at once. Notes (connected, lost, readings dropped, readings left
    // unsent) go to note, on this thread.
    MqttSink(MqttPublisherOptions options, std::function<void(const QString&)> note);
    ~MqttSink() override;

    void take(const LiveReading& reading) override;
    void finish() override;
    // The meter was plugged in or pulled out: the broker's availability topic follows.
    void setMeterPresent(bool present) { publisher_.setMeterPresent(present); }

    const MqttPublisher& publisher() const { return publisher_; }

signals:
    // The broker refused the login: the readings can never reach it, so logging should end (text is
    // the message that says so, once).
    void loginRefused(const QString& text);

private:
    void noteDropped(quint64 total);

    MqttPublisher publisher_;
    std::function<void(const QString&)> note_;
    QElapsedTimer sinceDropNote_;
    quint64 droppedNoted_ = 0;
    bool finished_ = false;
};

// Each reading to both sinks, the first first.
class BothSinks final : public LiveReadingSink {
public:
    BothSinks(LiveReadingSink& first, LiveReadingSink& second)
        : first_(first)
        , second_(second)
    {
    }
    void take(const LiveReading& reading) override
    {
        first_.take(reading);
        second_.take(reading);
    }
    void finish() override
    {
        first_.finish();
        second_.finish();
    }

private:
    LiveReadingSink& first_;
    LiveReadingSink& second_;
};
