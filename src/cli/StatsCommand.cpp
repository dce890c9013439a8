// decimora-cli stats: the sound-level statistics of data files, as the statistics window shows them,
// and with --periods, --hourly and --events the noise assessment of each file, as its pages do.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "cli/NoiseOptions.h"
#include "stats/FigureTables.h"

namespace {

QString SummaryOf(const FileSeries& file, const std::optional<std::int32_t>& interval, double alarm)
{
    const TimedSeries timed = TimedOf(file.series, interval);
    // Without the times the figures that need no time are still worth having.
    if (!interval && timed.timeError)
        Say(TimeErrorText(file) + QStringLiteral(" The durations, SEL and time above the alarm are not known."));
    QString text;
    const FigureTable table = StatisticsTable(StatisticsOf(timed), alarm);
    for (const std::vector<FigureCell>& row : table.rows)
        text += QStringLiteral("%1\t%2\t%3\t%4\n").arg(file.path, row[0].plain, row[1].plain, row[2].plain);
    return text;
}

// A table of figures as tab-separated lines, each headed by the file's name.
QString Lines(const QString& file, const FigureTable& table)
{
    QString text;
    for (const std::vector<FigureCell>& row : table.rows) {
        text += file;
        for (const FigureCell& cell : row)
            text += QLatin1Char('\t') + cell.plain;
        text += QLatin1Char('\n');
    }
    return text;
}

QString Header(const FigureTable& table)
{
    QString text = QStringLiteral("file");
    for (const FigureColumn& column : table.columns)
        text += QLatin1Char('\t') + column.key;
    return text + QLatin1Char('\n');
}

// What "stats" was asked for.
struct StatsRequest {
    QStringList files;
    // Not given: each reading lasts as the time stamps of its file say.
    std::optional<std::int32_t> interval;
    double alarm = 0.0;
    NoiseSettings settings;
    bool periods = false;
    bool hourly = false;
    bool events = false;
};

StatsRequest ReadStatsRequest(const ParsedCommand& command)
{
    StatsRequest request;
    request.files = command.positionalArguments();
    if (request.files.isEmpty())
        throw UsageError(QStringLiteral("stats needs at least one data file."));
    request.interval = IntervalOf(command);
    request.alarm = HighAlarmOf(command);
    request.settings = NoiseSettingsOf(command, request.alarm);
    request.periods = command.isSet("periods");
    request.hourly = command.isSet("hourly");
    request.events = command.isSet("events");
    return request;
}

int RunStats(const ParsedCommand& command)
{
    const StatsRequest request = ReadStatsRequest(command);
    const std::optional<std::int32_t>& interval = request.interval;
    const bool periods = request.periods;
    const bool hourly = request.hourly;
    const bool events = request.events;

    const std::vector<FileSeries> series = ReadFileSeries(request.files);
    if (!periods && !hourly && !events) {
        QString text = QStringLiteral("file\tfigure\tvalue\tunit\n");
        for (const FileSeries& file : series)
            text += SummaryOf(file, interval, request.alarm);
        // Printed once every file has been read, so that a file that fails leaves no half table behind.
        Print(text);
        return ExitDone;
    }

    QString tables[3];
    const NoiseFigures none;
    for (const FileSeries& file : series) {
        if (file.series.timeError)
            throw CliError(TimeErrorText(file));
        const TimedSeries timed = TimedOf(file.series, interval);
        if (!timed.durationsKnown) {
            throw CliError(QStringLiteral("%1: the periods, hours and events need readings at two different times.")
                               .arg(file.path));
        }
        const NoiseFigures figures = NoiseFiguresOf(timed, request.settings);
        tables[0] += Lines(file.path, PeriodTable(figures));
        tables[1] += Lines(file.path, HourTable(figures));
        tables[2] += Lines(file.path, EventTable(figures));
    }
    const bool wanted[3] = { periods, hourly, events };
    const FigureTable headers[3] = { PeriodTable(none), HourTable(none), EventTable(none) };
    QStringList sections;
    for (int i = 0; i < 3; ++i) {
        if (wanted[i])
            sections << Header(headers[i]) + tables[i];
    }
    // Each table with its header line; a blank line between tables.
    Print(sections.join(QLatin1Char('\n')));
    return ExitDone;
}

std::vector<CliOption> StatsOptions()
{
    std::vector<CliOption> options {
        { .name = "interval",
            .description = "Whole seconds each reading stands for; without it each reading lasts as the time stamps "
                           "of its file say (the regular step from one reading to the next).",
            .valueName = "S" },
        { .name = "high-alarm",
            .description = "The level in dB whose exceedances are counted (default 85).",
            .valueName = "DB",
            .defaultValue = "85" },
        { .name = "periods",
            .description = "Print the period levels instead: Lday, Levening, Lnight, Lden and Ldn over the whole "
                           "run and per day, with the share of each period the readings cover and its events." },
        { .name = "hourly", .description = "Print the hours: Leq, Lmax, L10, L90 and coverage of each clock hour." },
        { .name = "events", .description = "Print the events: the times the level stayed at or above the threshold." },
    };
    const std::vector<CliOption> noise = NoiseOptionTable();
    options.insert(options.end(), noise.begin(), noise.end());
    return options;
}

} // namespace

const CliCommand& StatsCommand()
{
    static const CliCommand command {
        .name = "stats",
        .summary = "the sound-level statistics (Leq, L10, L50, L90, SEL, ...) of data files",
        .description
        = "Prints the sound-level statistics of each data file as the statistics window shows them, one figure a "
          "line: file, figure, value, unit, separated by tabs. A figure that is not known has no value. With "
          "--periods, --hourly or --events it prints those tables of each file instead, each with a header line "
          "and a blank line between them.",
        .options = StatsOptions(),
        .arguments = {
            { .name = "FILE.dmr",
                .description = "Data files, or logs written by live (--format csv or jsonl).",
                .usage = "FILE.dmr..." },
        },
        .talksToMeter = false,
        .check = [](const ParsedCommand& command) { ReadStatsRequest(command); },
        .run = RunStats,
    };
    return command;
}
