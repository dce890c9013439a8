#include "cli/MeterSession.h"

#include "cli/CliError.h"
#include "cli/TracingHidPlatform.h"
#include "hid/HidPlatformLinux.h"
#include "meter/SimulatedMeter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

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

// The tool asks nothing: a command that would need an answer fails instead, so these are never shown.
class MeterSession::NoDialogs final : public UserInteraction {
public:
    MessageAnswer showMessage(QWidget*, const QString&, const QString&, MessageButtons buttons, MessageIcon) override
    {
        return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    }
    QString askSaveFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    QString askOpenFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    bool askPrinterSetup(QWidget*, QPrinter&) override { return false; }
    ReportOutputChoice askReportOutput(QWidget*, const QString&, const QPrinter&) override { return {}; }
    void showPrintPreview(QWidget*, QPrinter&, const std::function<void(QPrinter&)>&) override { }
};

class MeterSession::NoSound final : public SoundPlayer {
public:
    void play(const QString&) override { }
};

MeterSession::MeterSession(const MeterOptions& options, std::unique_ptr<ReadingStore> store, const QString& cacheFolder)
    : clock_(options.simulate ? options.pretendStart : std::nullopt, options.simulate ? options.pretendRate : 1.0)
    , dialogs_(std::make_unique<NoDialogs>())
    , sound_(std::make_unique<NoSound>())
{
    if (options.simulate) {
        auto meter = std::make_unique<SimulatedMeter>();
        if (!options.memoryFile.isEmpty()) {
            QString error;
            std::optional<std::vector<std::uint8_t>> memory = ReadLoggedMemoryFile(options.memoryFile, &error);
            if (!memory)
                throw CliError(error);
            meter->setLoggedMemory(std::move(*memory));
        }
        simulated_ = meter.get();
        platform_ = std::move(meter);
    } else {
        platform_ = std::make_unique<LinuxHidPlatform>();
    }
    HidPlatform* hid = platform_.get();
    if (options.trace) {
        tracing_ = std::make_unique<TracingHidPlatform>(*platform_, stderr);
        hid = tracing_.get();
    }
    // The settings file is never read or written by the tool; the staging file goes where the caller
    // says (a folder of its own, so that the desktop program's is never touched).
    const QString folder = cacheFolder.isEmpty() ? QDir::tempPath() : cacheFolder;
    module_ = std::make_unique<TForm6>(
        ModuleServices { *dialogs_, clock_, *sound_, *hid, ProgramFolders(folder) }, std::move(store));
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

QString MeterAccessHint()
{
    return QStringLiteral(
        "A sound level meter is plugged in, but this user may not open it. To grant access, install the "
        "Decimora package, which brings the udev rule that gives the user at the seat access to the meter, "
        "or install the rule from Decimora's source by hand:\n"
        "    sudo install -m 644 packaging/70-decimora-meter.rules /etc/udev/rules.d/\n"
        "    sudo udevadm control --reload-rules && sudo udevadm trigger\n"
        "Then unplug the meter and plug it in again. A user logged in without a seat (over ssh, or a "
        "service) gets no access from that rule: add a rule of your own that gives the meter's node to "
        "that user's group.");
}

void MeterSession::requireMeter() const
{
    if (module_->DeviceConnected)
        return;
    if (module_->MeterWithoutAccess)
        throw CliError(MeterAccessHint());
    throw CliError(QStringLiteral("No sound level meter is plugged in."));
}
