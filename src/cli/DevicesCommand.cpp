// decimora-cli devices: the meters plugged in, and whether this user may open them.

#include "cli/CliCommands.h"
#include "cli/CliOutput.h"
#include "cli/MeterSession.h"

#include <cstdio>

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
    if (meters == 0)
        Print(QStringLiteral("No sound level meter is plugged in.\n"));
    std::fflush(stdout);
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
        .run = RunDevices,
    };
    return command;
}
