// decimora-cli devices: the meters plugged in, and whether this user may open them.

#include "cli/CliCommands.h"
#include "cli/CliOutput.h"
#include "cli/MeterSession.h"

namespace {

int RunDevices(const ParsedCommand& command)
{
    MeterSession session(command.meterOptions());
    session.waitForFirstScan();
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
        Print(QStringLiteral("%1\t%2\n")
                  .arg(device->PnPInfo() ? device->PnPInfo()->DevicePath : QString(),
                      mayOpen ? QStringLiteral("read-write") : QStringLiteral("no access")));
    }
    // A note, not a result: standard output stays empty, so a script sees no meter as no line.
    if (meters == 0)
        Say(QStringLiteral("No sound level meter is plugged in."));
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
        .description = "Lists the sound level meters plugged in, each with its device node and whether this user may "
                       "open it.",
        .options = {},
        .arguments = {},
        .talksToMeter = true,
        .check = [](const ParsedCommand& command) { command.meterOptions(); },
        .run = RunDevices,
    };
    return command;
}
