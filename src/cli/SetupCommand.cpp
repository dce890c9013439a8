// decimora-cli setup: reads the meter's settings and changes those the options name, as the setup
// window does.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "cli/MeterSession.h"
#include "core/LiveReading.h"
#include "core/MeterProtocol.h"

namespace {

struct RangeName {
    const char* name;
    int code;
};
constexpr RangeName RangeNames[]
    = { { "30-130", 0 }, { "30-80", 1 }, { "50-100", 2 }, { "60-110", 3 }, { "80-130", 4 } };

// The meter's status, read as the setup window reads it: a request and 260 ms for the answer. A busy
// machine can take longer to pass the answer on, so the tool asks up to five times before it says the
// meter did not answer. Throws CliError then.
int ReadStatus(TForm6& m)
{
    for (int attempt = 0; attempt < 5 && m.DeviceConnected; ++attempt) {
        if (const std::optional<int> status = m.Link().readStatus())
            return *status;
    }
    throw CliError(QStringLiteral("The meter did not answer."));
}

// What "setup" was asked to change; what is not given stays as the meter has it.
struct SetupRequest {
    std::optional<int> rangeCode;
    bool fast = false;
    bool slow = false;
    std::optional<bool> cWeighting;
    std::optional<bool> holdMaximum;
    bool setClock = false;
    MeterOptions meter;
};

SetupRequest ReadSetupRequest(const ParsedCommand& command)
{
    SetupRequest request;
    if (command.isSet("range")) {
        for (const RangeName& known : RangeNames)
            if (command.value("range") == QLatin1String(known.name))
                request.rangeCode = known.code;
        if (!request.rangeCode)
            throw UsageError(QStringLiteral("--range must be 30-130, 30-80, 50-100, 60-110 or 80-130, not '%1'.")
                                 .arg(command.value("range")));
    }
    request.fast = command.isSet("fast");
    request.slow = command.isSet("slow");
    if (request.fast && request.slow)
        throw UsageError(QStringLiteral("--fast and --slow exclude each other."));
    if (command.isSet("weighting")) {
        const QString value = command.value("weighting").toUpper();
        if (value != QLatin1String("A") && value != QLatin1String("C"))
            throw UsageError(QStringLiteral("--weighting must be A or C, not '%1'.").arg(command.value("weighting")));
        request.cWeighting = value == QLatin1String("C");
    }
    if (command.isSet("max-hold")) {
        const QString value = command.value("max-hold");
        if (value != QLatin1String("on") && value != QLatin1String("off"))
            throw UsageError(QStringLiteral("--max-hold must be on or off, not '%1'.").arg(value));
        request.holdMaximum = value == QLatin1String("on");
    }
    request.setClock = command.isSet("set-clock");
    request.meter = command.meterOptions();
    return request;
}

int RunSetup(const ParsedCommand& command)
{
    const SetupRequest request = ReadSetupRequest(command);
    MeterSession session(request.meter);
    session.waitForFirstScan();
    session.requireMeter();
    TForm6& m = session.module();
    const int before = ReadStatus(m);
    const bool modeChanges
        = request.rangeCode || request.fast || request.slow || request.cWeighting || request.holdMaximum;
    std::optional<std::uint8_t> mode;
    if (modeChanges) {
        const bool isFast = request.fast || (!request.slow && (before & MeterStatus::Fast));
        mode = ModeByte(request.rangeCode.value_or(before & MeterStatus::RangeMask), isFast,
            request.cWeighting.value_or((before & MeterStatus::CWeighting) != 0),
            request.holdMaximum.value_or((before & MeterStatus::MaxHold) != 0));
    }
    QDateTime clockSetTo;
    if (modeChanges || request.setClock) {
        clockSetTo = session.clock().now();
        const SettingsResult applied = m.Link().applySettings(request.setClock, clockSetTo, mode);
        switch (applied.outcome) {
        case SettingsOutcome::Sent:
            break;
        case SettingsOutcome::Disconnected:
            throw CliError(QStringLiteral("The meter was disconnected while it was being set up."));
        case SettingsOutcome::WriteFailed:
            throw CliError(QStringLiteral("Cannot send the settings to the meter (%1).").arg(applied.errorText));
        }
    }
    const int after = ReadStatus(m);
    Print(QStringLiteral("range: %1\nresponse: %2\nweighting: %3\nmax_hold: %4\n")
              .arg(RangeText(after), ResponseText(after), WeightingText(after),
                  MaxHoldOn(after) ? QStringLiteral("on") : QStringLiteral("off")));
    if (request.setClock)
        Print(QStringLiteral("clock: set to %1\n").arg(clockSetTo.toString(Qt::ISODate)));
    if (mode && (after & 0x7F) != *mode)
        throw CliError(QStringLiteral("The meter did not take the settings: it reports the ones above."));
    return ExitDone;
}

} // namespace

const CliCommand& SetupCommand()
{
    static const CliCommand command {
        .name = "setup",
        .summary = "read or change the meter's range, response, weighting, max hold and clock",
        .description = "Changes the meter's settings as the setup window does; what is not given stays as the meter "
                       "has it. Prints the meter's settings afterwards (with no option: prints them).",
        .options = {
            { .name = "range",
                .description = "The measurement range in dB.",
                .valueName = "RANGE",
                .usageValue = "30-130|30-80|50-100|60-110|80-130" },
            { .name = "fast", .description = "Fast time weighting (125 ms)." },
            { .name = "slow", .description = "Slow time weighting (1 s).", .insteadOf = "fast" },
            { .name = "weighting", .description = "Frequency weighting A or C.", .valueName = "A|C" },
            { .name = "max-hold", .description = "Hold the maximum: on or off.", .valueName = "on|off" },
            { .name = "set-clock", .description = "Set the meter's clock to this computer's local time." },
        },
        .arguments = {},
        .talksToMeter = true,
        .check = [](const ParsedCommand& command) { ReadSetupRequest(command); },
        .run = RunSetup,
    };
    return command;
}
