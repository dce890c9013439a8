#include "cli/MeterSession.h"

#include "cli/CliError.h"
#include "cli/TracingHidPlatform.h"
#include "meter/MeterChoice.h"
#include "meter/SimulatedMeter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

CliClock::CliClock(std::optional<QDateTime> pretendStart)
{
    if (pretendStart)
        offsetMs_ = QDateTime::currentDateTime().msecsTo(*pretendStart);
}

QDateTime CliClock::now() const
{
    const QDateTime real = system_.now();
    return offsetMs_ == 0 ? real : real.addMSecs(offsetMs_);
}

std::uint32_t CliClock::tickCount() const
{
    return system_.tickCount();
}

MeterSession::MeterSession(const MeterOptions& options, std::unique_ptr<ReadingStore> store, const QString& cacheFolder)
    : clock_(options.simulate ? options.pretendStart : std::nullopt)
{
    MeterChoice choice { options.simulate, {} };
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
    if (options.trace) {
        tracing_ = std::make_unique<TracingHidPlatform>(*platform_, stderr);
        hid = tracing_.get();
    }
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

void MeterSession::requireMeter() const
{
    if (module_->DeviceConnected)
        return;
    if (module_->MeterWithoutAccess)
        throw CliError(MeterAccessHint());
    throw CliError(QStringLiteral("No sound level meter is plugged in."));
}
