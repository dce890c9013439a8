// Live readings to a local mosquitto broker through the MQTT publisher:
// - BM_PublishCall: what publish() costs the tool's event loop, connected, per reading;
// - BM_DeliverBurst: 10,000 readings queued at once, until the broker has acknowledged every one
//   (readings_per_second is the rate of acknowledged readings);
// - BM_CatchUpAfterAnHourOutage: 3,600 readings queued while no broker listens, from the moment one
//   starts on the port until the last is acknowledged (target: well below the hour of readings it
//   holds, so that a tool taking a reading a second catches up).
#include "mqtt/MqttPublisher.h"
#include "support/MosquittoBroker.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

LiveReading Reading(int n)
{
    return { QDateTime(QDate(2026, 12, 10), QTime(9, 0), Qt::OffsetFromUTC, 3600).addSecs(n), 400 + n % 900, 0x51 };
}

MqttPublisherOptions OptionsFor(const MosquittoBroker& broker, std::size_t capacity)
{
    MqttPublisherOptions options;
    options.broker = ParseMqttBrokerAddress(broker.address());
    options.queueCapacity = capacity;
    options.reconnectDelay = 10ms;
    options.reconnectDelayMax = 10ms;
    return options;
}

void WaitForEmptyQueue(const MqttPublisher& publisher)
{
    while (publisher.queued() != 0)
        std::this_thread::sleep_for(100us);
}

void BM_PublishCall(benchmark::State& state)
{
    MosquittoBroker broker;
    if (!broker.start()) {
        state.SkipWithError(broker.error().toStdString().c_str());
        return;
    }
    MqttPublisher publisher(OptionsFor(broker, 1'000'000));
    while (!publisher.connected())
        std::this_thread::sleep_for(1ms);
    const LiveReading reading = Reading(1);
    for (auto _ : state)
        publisher.publish(reading);
    WaitForEmptyQueue(publisher);
    state.counters["dropped"] = static_cast<double>(publisher.dropped());
}
BENCHMARK(BM_PublishCall);

void BM_DeliverBurst(benchmark::State& state)
{
    constexpr int Readings = 10'000;
    MosquittoBroker broker;
    if (!broker.start()) {
        state.SkipWithError(broker.error().toStdString().c_str());
        return;
    }
    MqttPublisher publisher(OptionsFor(broker, Readings));
    while (!publisher.connected())
        std::this_thread::sleep_for(1ms);
    for (auto _ : state) {
        for (int n = 0; n < Readings; ++n)
            publisher.publish(Reading(n));
        WaitForEmptyQueue(publisher);
    }
    state.counters["readings_per_second"] = benchmark::Counter(
        static_cast<double>(Readings) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DeliverBurst)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_CatchUpAfterAnHourOutage(benchmark::State& state)
{
    constexpr int Readings = 3600;
    for (auto _ : state) {
        MosquittoBroker broker;
        MqttPublisher publisher(OptionsFor(broker, Readings));
        for (int n = 0; n < Readings; ++n)
            publisher.publish(Reading(n));
        const auto start = std::chrono::steady_clock::now();
        if (!broker.start()) {
            state.SkipWithError(broker.error().toStdString().c_str());
            return;
        }
        WaitForEmptyQueue(publisher);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        publisher.stop(1s);
    }
}
BENCHMARK(BM_CatchUpAfterAnHourOutage)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

} // namespace
