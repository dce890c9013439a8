// decimora-cli devices: the meters plugged in, and whether this user may open them.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "cli/MeterSession.h"

namespace {

// What --device takes to name this meter and no other: its serial number, or where it is plugged in.
QString DeviceName(const std::vector<HidInterfaceInfo>& interfaces, const QString& path)
{
    for (const HidInterfaceInfo& interface : interfaces) {
        if (interface.devicePath == path)
            return !interface.serialNumber.isEmpty() ? interface.serialNumber
                : !interface.location.isEmpty()      ? interface.location
                                                     : path;
    }
    return path;
}

int RunDevices(const ParsedCommand& command)
{
    const MeterOptions options = command.meterOptions();
    MeterSession session(options);
    session.waitForFirstScan();
    const std::vector<HidInterfaceInfo> interfaces = session.interfaces();
    const TForm6& m = session.module();
    int meters = 0;
    bool withoutAccess = false;
    for (const auto& device : m.DeviceList) {
        if (!device || device->Attributes().vendorId != MeterVendorId
            || device->Attributes().productId != MeterProductId)
            continue;
        ++meters;
        const bool mayOpen = device->HasReadWriteAccess();
        withoutAccess = withoutAccess || !mayOpen;
        const QString path = device->PnPInfo() ? device->PnPInfo()->DevicePath : QString();
        Print(QStringLiteral("%1\t%2\t%3\n")
                  .arg(path, DeviceName(interfaces, path),
                      mayOpen ? QStringLiteral("read-write") : QStringLiteral("no access")));
    }
    // The meter asked for is missing: a failure, as for every other command.
    if (meters == 0 && !options.device.isEmpty())
        throw CliError(session.noMeterText());
    // A note, not a result: standard output stays empty, so a script sees no meter as no line.
    if (meters == 0)
        Say(session.noMeterText());
    // The list before the hint; a list that cannot be written is told at the end.
    FlushStandardOutput();
    if (withoutAccess)
        Say(MeterAccessHint());
    return ExitDone;
}

} // namespace

const CliCommand& DevicesCommand()
{
    static const CliCommand command {
        .name = "devices",
        .summary = "the meters plugged in, and whether this user may open them",
        .description = "Lists the sound level meters plugged in, one a line: its device node, its serial number (or "
                       "where it is plugged in, for a meter without one: what --device takes to name it) and "
                       "whether this user may open it, separated by tabs.",
        .options = {},
        .arguments = {},
        .talksToMeter = true,
        .check = [](const ParsedCommand& command) { command.meterOptions(); },
        .run = RunDevices,
    };
    return command;
}
