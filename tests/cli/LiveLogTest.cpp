// The live logger in-process, where the simulated meter's fault switches reach: a meter this user may
// not open is named with the udev hint and waited for, and logging starts once one can be opened.

#include "cli/LiveLog.h"
#include "cli/MeterSession.h"
#include "meter/SimulatedMeter.h"
#include "support/TestModule.h"

#include <gtest/gtest.h>

namespace {

class CollectedReadings final : public LiveReadingSink {
public:
    void take(const LiveReading& reading) override { readings.push_back(reading); }
    std::vector<LiveReading> readings;
};

TEST(LiveLog, AMeterWithoutAccessIsNamedWithTheUdevHintAndLoggingStartsOnceItCanBeOpened)
{
    MeterOptions options;
    options.simulate = true;
    MeterSession session(options);
    SimulatedMeter& meter = *session.simulatedMeter();
    meter.setAccessDenied(true);
    session.waitForFirstScan();
    EXPECT_FALSE(session.module().DeviceConnected);
    EXPECT_TRUE(session.module().MeterWithoutAccess);

    QStringList notes;
    CollectedReadings sink;
    LiveLog log(session, sink, [&notes](const QString& note) { notes << note; });
    log.start(LiveLog::ShortestIntervalMs);
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(QLatin1String("may not open it"))) << notes[0].toStdString();
    EXPECT_TRUE(notes[0].contains(QLatin1String("sudo install -m 644 packaging/70-decimora-meter.rules")));
    EXPECT_TRUE(sink.readings.empty());

    // The rule installed, the meter plugged in again.
    meter.setAccessDenied(false);
    meter.unplug();
    meter.plug();
    ASSERT_TRUE(TestModule::waitUntil([&] { return sink.readings.size() >= 2; }, 30000));
    EXPECT_EQ(notes.last(), "A meter is plugged in; logging starts.");
    log.stop();
    EXPECT_FALSE(session.module().MeasureWindowHandle);
    EXPECT_EQ(session.module().MeterBusy, 0);
}

} // namespace
