#include "cli/MeterSession.h"

#include "cli/ChosenMeterPlatform.h"
#include "cli/CliError.h"
#include "cli/TracingHidPlatform.h"
#include "meter/MeterChoice.h"
#include "meter/SimulatedMeter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <cmath>
#include <csignal>

CliClock::CliClock(std::optional<QDateTime> pretendStart, double rate)
    : rate_(rate)
{
    if (pretendStart || rate != 1.0) {
        start_ = pretendStart ? *pretendStart : system_.now();
        sinceStart_.start();
    }
}

QDateTime CliClock::now() const
{
    if (!start_.isValid())
        return system_.now();
    // From the nanoseconds: a fast clock would otherwise move in steps of the rate's milliseconds.
    return start_.addMSecs(std::llround(double(sinceStart_.nsecsElapsed()) * rate_ / 1e6));
}

std::uint32_t CliClock::tickCount() const
{
    return system_.tickCount();
}

MeterSession::MeterSession(const MeterOptions& options, std::unique_ptr<ReadingStore> store, const QString& cacheFolder)
    : clock_(options.simulate ? options.pretendStart : std::nullopt, options.simulate ? options.pretendRate : 1.0)
{
    MeterChoice choice { options.simulate, {}, options.simulatedSerial };
    if (options.simulate && !options.memoryFile.isEmpty()) {
        QString error;
        choice.loggedMemory = ReadLoggedMemoryFile(options.memoryFile, &error);
        if (!choice.loggedMemory)
            throw CliError(error);
    }
    MeterPlatform meter = MakeMeterPlatform(choice);
    platform_ = std::move(meter.platform);
    simulated_ = meter.simulated;
    HidPlatform* hid = platform_.get();
    device_ = options.device;
    if (!device_.isEmpty()) {
        chosen_ = std::make_unique<ChosenMeterPlatform>(*hid, device_);
        hid = chosen_.get();
    }
    if (options.trace) {
        tracing_ = std::make_unique<TracingHidPlatform>(*hid, stderr);
        hid = tracing_.get();
    }
    hid_ = hid;
    // The settings file is never read or written by the tool; the staging file goes where the caller
    // says (a folder of its own, so that the desktop program's is never touched).
    const QString folder = cacheFolder.isEmpty() ? QDir::tempPath() : cacheFolder;
    module_ = std::make_unique<TForm6>(
        ModuleServices { dialogs_, clock_, sound_, *hid, ProgramFolders(folder) }, std::move(store));
    TForm6* module = module_.get();
    module_->HidCtl().OnDeviceChange = [this, module] {
        module->HidCtlDeviceChange();
        scanned_ = true;
        emit devicesChanged();
    };
}

MeterSession::~MeterSession()
{
    // The module's devices and read threads go before the platform they read from.
    module_.reset();
    tracing_.reset();
    chosen_.reset();
    platform_.reset();
}

void MeterSession::waitForFirstScan()
{
    if (!platform_->available())
        return;
    // The scan is posted already; the limit only guards against a platform that never answers.
    const QDeadlineTimer limit(5000);
    QTimer wakeUp;
    wakeUp.start(50);
    while (!scanned_ && !limit.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool MeterSession::pullOrPlugCable(int signalNumber)
{
    if (!simulated_ || (signalNumber != SIGUSR1 && signalNumber != SIGUSR2))
        return false;
    if (signalNumber == SIGUSR1)
        simulated_->unplug();
    else
        simulated_->plug();
    return true;
}

void MeterSession::requireMeter() const
{
    if (module_->DeviceConnected)
        return;
    if (module_->MeterWithoutAccess)
        throw CliError(MeterAccessHint());
    throw CliError(noMeterText());
}

QString MeterSession::noMeterText() const
{
    return device_.isEmpty() ? QStringLiteral("No sound level meter is plugged in.") : NoChosenMeterText(device_);
}

std::vector<HidInterfaceInfo> MeterSession::interfaces()
{
    return hid_->scan();
}
