// Exchanges per second through the whole meter link: command written by the module, answered by the
// simulated meter at zero latency, read on the device's read thread, handed over to the user-interface
// thread and decoded by SaveRead into a reading message.
#include "core/MeterProtocol.h"
#include "core/NullServices.h"
#include "core/systemvar.h"
#include "meter/SimulatedMeter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <benchmark/benchmark.h>

namespace {

class ReadingCounter final : public QObject {
public:
    long readings = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == static_cast<QEvent::Type>(WM_NEWREADING)) {
            ++readings;
            return true;
        }
        return QObject::event(event);
    }
};

void BM_RequestReadingRoundTrip(benchmark::State& state)
{
    NullUserInteraction ui;
    SystemClock clock;
    SilentSoundPlayer sound;
    SimulatedMeter meter;
    TForm6 module(ModuleServices { ui, clock, sound, meter, QString() }, nullptr);
    while (!module.DeviceConnected)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ReadingCounter window;
    module.MeasureWindowHandle = &window;
    module.ReadMode = 1;

    for (auto _ : state) {
        const long before = window.readings;
        FillRequestReading(module.SendBuffer);
        SendToMeter(module);
        while (window.readings == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    state.counters["exchanges/s"]
        = benchmark::Counter(static_cast<double>(window.readings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RequestReadingRoundTrip)->UseRealTime()->MinTime(3.0);

} // namespace
