// decimora-cli stats: the sound-level statistics of data files, as the statistics window shows them.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "cli/TableFiles.h"
#include "stats/StatisticsRows.h"
#include "store/SqliteReadingStore.h"

#include <cmath>

namespace {

QString FigureValue(const StatisticsRow& row)
{
    if (!row.value)
        return {};
    if (row.unit == QLatin1String("dB"))
        return QString::number(*row.value, 'f', 1);
    return QString::number(std::llround(*row.value));
}

int RunStats(const ParsedCommand& command)
{
    const QStringList files = command.positionalArguments();
    if (files.isEmpty())
        throw UsageError(QStringLiteral("stats needs at least one data file."));
    std::int32_t intervalSeconds = 0;
    if (command.isSet("interval")) {
        bool ok = false;
        intervalSeconds = command.value("interval").toInt(&ok);
        if (!ok || intervalSeconds < 1 || intervalSeconds > 86400)
            throw UsageError(QStringLiteral("--interval must be whole seconds from 1 to 86400, not '%1'.")
                                 .arg(command.value("interval")));
    }
    bool ok = false;
    const double alarm = command.value("high-alarm").toDouble(&ok);
    if (!ok || !(alarm >= 0.0 && alarm <= 200.0))
        throw UsageError(QStringLiteral("--high-alarm must be a level from 0 to 200 dB, not '%1'.")
                             .arg(command.value("high-alarm")));

    const WorkFolder work;
    const std::unique_ptr<SqliteReadingStore> store = work.store();
    QString text = QStringLiteral("file\tfigure\tvalue\tunit\n");
    for (const QString& file : files) {
        LoadInto(work, store->loadData(), file);
        const WeightedLevelStatistics statistics = StatisticsOfTable(store->loadData(), intervalSeconds);
        for (const StatisticsRow& row : StatisticsRows(statistics, alarm))
            text += QStringLiteral("%1\t%2\t%3\t%4\n").arg(file, row.label, FigureValue(row), row.unit);
    }
    // Printed once every file has been read, so that a file that fails leaves no half table behind.
    Print(text);
    return ExitDone;
}

} // namespace

const CliCommand& StatsCommand()
{
    static const CliCommand command {
        .name = "stats",
        .summary = "the sound-level statistics (Leq, L10, L50, L90, SEL, ...) of data files",
        .description = "Prints the sound-level statistics of each data file as the statistics window shows them, one "
                       "figure a line: file, figure, value, unit, separated by tabs. A figure that is not known has "
                       "no value.",
        .options = {
            { .name = "interval",
                .description = "Whole seconds each reading stands for (a data file does not say); without it the "
                               "duration, SEL and time above the alarm are not known.",
                .valueName = "S" },
            { .name = "high-alarm",
                .description = "The level in dB whose exceedances are counted (default 85).",
                .valueName = "DB",
                .defaultValue = "85" },
        },
        .arguments = {
            { .name = "FILE.dmr", .description = "Data files.", .usage = "FILE.dmr..." },
        },
        .talksToMeter = false,
        .run = RunStats,
    };
    return command;
}
