#include "cli/LiveLog.h"

#include "cli/CliError.h"
#include "cli/MeterSession.h"
#include "core/MeterProtocol.h"
#include "meter/SimulatedMeter.h"

#include <QEvent>

#include <algorithm>

LiveLog::LiveLog(MeterSession& session, LiveReadingSink& sink, std::function<void(const QString&)> note)
    : session_(session)
    , sink_(sink)
    , note_(std::move(note))
{
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &LiveLog::tick);
    connect(&session_, &MeterSession::devicesChanged, this, &LiveLog::meterMayHaveChanged);
}

LiveLog::~LiveLog()
{
    stop();
}

bool LiveLog::start(int intervalMs)
{
    TForm6& m = session_.module();
    // The logger is the receiver of the readings; it waits for a meter that is not there yet.
    m.MeasureWindowHandle = this;
    running_ = m.Link().startLiveRun(WithoutMeter::Wait);
    if (!running_) {
        m.MeasureWindowHandle = nullptr;
        return false;
    }
    meterMayHaveChanged();
    timer_.start(intervalMs);
    tick();
    return true;
}

void LiveLog::stop()
{
    if (!running_)
        return;
    running_ = false;
    timer_.stop();
    TForm6& m = session_.module();
    m.Link().endLiveRun();
    m.MeasureWindowHandle = nullptr;
    sink_.finish();
}

void LiveLog::tick()
{
    meterMayHaveChanged();
    requestReading();
}

void LiveLog::requestReading()
{
    // Without the meter the run waits; the first tick after it is back asks the new device.
    if (!running_ || !session_.module().Link().requestReading())
        return;
    // The simulated meter keeps every report it was sent, for tests; a logger running for days must
    // not keep them.
    if (SimulatedMeter* meter = session_.simulatedMeter())
        meter->clearWrittenReports();
}

bool LiveLog::event(QEvent* event)
{
    if (event->type() == static_cast<QEvent::Type>(WM_NEWREADING)) {
        takeReading();
        return true;
    }
    return QObject::event(event);
}

void LiveLog::takeReading()
{
    if (!running_)
        return;
    TForm6& m = session_.module();
    LiveReading reading;
    reading.time = session_.clock().now();
    reading.tenths = std::min(m.LiveValue, HighestLiveReading);
    reading.flags = m.LiveFlags;
    try {
        sink_.take(reading);
        ++readings_;
    } catch (const CliError& error) {
        stop();
        emit failed(error.text());
    }
}

void LiveLog::meterMayHaveChanged()
{
    if (!running_)
        return;
    const TForm6& m = session_.module();
    Told now = Told::Connected;
    if (!m.DeviceConnected)
        now = m.MeterWithoutAccess ? Told::WithoutAccess : Told::Missing;
    if (now == told_)
        return;
    const Told before = told_;
    told_ = now;
    switch (now) {
    case Told::Connected:
        if (everConnected_)
            note_(QStringLiteral("The meter is back; logging goes on."));
        else if (before != Told::Nothing)
            note_(QStringLiteral("A meter is plugged in; logging starts."));
        everConnected_ = true;
        break;
    case Told::Missing:
        note_(before == Told::Connected ? QStringLiteral("The meter was unplugged; waiting for it to come back.")
                                        : session_.noMeterText() + QStringLiteral(" Waiting for it."));
        break;
    case Told::WithoutAccess:
        note_(MeterAccessHint() + QStringLiteral("\nWaiting for a meter this user may open."));
        break;
    case Told::Nothing:
        break;
    }
}
