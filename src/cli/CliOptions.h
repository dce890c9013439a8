#pragma once

// The commands of decimora-cli and their options, each option written once, in its command's table:
// the parser, the --help text and the usage line all come from there, and a test holds the manual
// page to it.

#include <QCommandLineParser>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One option of a command.
struct CliOption {
    const char* name;
    const char* description;
    // The value's name in the help text; none for a switch.
    const char* valueName = nullptr;
    const char* defaultValue = nullptr;
    // How the usage line shows the value where that says more than its name ("csv|jsonl|influx").
    const char* usageValue = nullptr;
    // The option whose brackets this one stands in on the usage line, because it belongs to it:
    // "[--output FILE [--rotate daily]]".
    const char* within = nullptr;
    // The option this one is the alternative to; both share one pair of brackets: "[--fast|--slow]".
    const char* insteadOf = nullptr;
    // The value may follow "=" only, and may be left out: "[--simulate-meter[=MEMORY.bin]]".
    bool optionalValue = false;
    bool repeatable = false;
    // Left out of the help text, the usage line and the manual page (for tests only).
    bool hidden = false;
};

// One argument that is not an option ("IN.dmr").
struct CliArgument {
    const char* name;
    const char* description;
    // How the usage line shows it: "OUT.dmr|.csv|.xlsx|.xls", "FILE.dmr...".
    const char* usage;
};

class ParsedCommand;

struct CliCommand {
    const char* name;
    // Its line in the tool's general help.
    const char* summary;
    // The first paragraph of its --help.
    const char* description;
    std::vector<CliOption> options;
    std::vector<CliArgument> arguments;
    // Takes the meter options (MeterOptionTable) after its own.
    bool talksToMeter = false;
    // Reads and checks the parsed command line as run does before it touches the meter or a file;
    // throws UsageError for what run would refuse as bad usage, and does nothing else.
    std::function<void(const ParsedCommand&)> check;
    // Runs the command on its parsed command line; returns the exit code, throws CliError.
    std::function<int(const ParsedCommand&)> run;
};

// The options of every command that talks to the meter.
const std::vector<CliOption>& MeterOptionTable();

// "Usage: decimora-cli live [--interval S] ... [--simulate-meter[=MEMORY.bin]] [--trace]"
QString UsageLine(const CliCommand& command);
// "Usage: decimora-cli live [OPTIONS]    (decimora-cli live --help tells more)": the line under a
// usage error, short enough to see the message above it.
QString ShortUsageLine(const CliCommand& command);

// What the meter options asked for.
struct MeterOptions {
    bool simulate = false;
    // With simulate: the file whose bytes are the simulated meter's logged memory; empty for its own.
    QString memoryFile;
    bool trace = false;
    // --device: the meter's node, serial number or location; empty for the first meter found.
    QString device;
    // With simulate only: the simulated meter's serial number; empty for none.
    QString simulatedSerial;
    // With simulate only: the local time the tool's clock shows at its start, from which it runs on at
    // the real pace; lets a test rehearse a midnight without waiting for one.
    std::optional<QDateTime> pretendStart;
    // With simulate only: how many times as fast as the real one the tool's clock runs, so that a test
    // logs a week in minutes. The intervals the tool waits (--interval, --duration) are of its clock.
    double pretendRate = 1.0;
};

// A command line read against its command's table.
class ParsedCommand {
public:
    // Reads the arguments (arguments[0] names the command). Nothing when --help was asked for: its
    // text has been printed. Throws UsageError for an unknown option, a missing value, or an argument
    // the command does not take.
    static std::optional<ParsedCommand> parse(const CliCommand& command, const QStringList& arguments);

    const CliCommand& command() const { return *command_; }
    bool isSet(const char* option) const;
    QString value(const char* option) const;
    QStringList values(const char* option) const;
    QStringList positionalArguments() const;

    // A number of seconds given to an option, as milliseconds within [lowestMs, highestMs]; range says
    // which in the message of the UsageError thrown otherwise.
    qint64 milliseconds(const char* option, qint64 lowestMs, qint64 highestMs, const QString& range) const;
    // The meter options; lets Qt's own messages through with --trace.
    MeterOptions meterOptions() const;

private:
    ParsedCommand(const CliCommand& command, std::unique_ptr<QCommandLineParser> parser);
    // Throws std::logic_error for a name that is not in the command's table.
    QString known(const char* option) const;

    const CliCommand* command_;
    std::shared_ptr<QCommandLineParser> parser_;
};
