// decimora-report: the pages of decimora-cli report. Started by decimora-cli with the command line it
// has read (the same option table), the report definition and the company name; writes the PDF file
// and ends as decimora-cli would: 0 done, 1 failed with one message line, 2 bad usage.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "cli/NoiseOptions.h"
#include "core/Clock.h"
#include "report/NoiseReport.h"

#include <QFileInfo>
#include <QGuiApplication>

namespace {

int WriteReport(const ParsedCommand& command)
{
    const QStringList files = command.positionalArguments();
    if (files.isEmpty() || !command.isSet("output") || !command.isSet("definition"))
        throw UsageError(QStringLiteral("report needs data files, --output FILE.pdf and --definition FILE.rav."));
    const double alarm = HighAlarmOf(command);
    const NoiseSettings settings = NoiseSettingsOf(command, alarm);

    // The files are one measurement: their readings in the order given, as one series.
    std::vector<StampedSeries> parts;
    QStringList names;
    for (const FileSeries& file : ReadFileSeries(files)) {
        if (file.series.timeError)
            throw CliError(TimeErrorText(file));
        parts.push_back(file.series);
        names << QFileInfo(file.path).fileName();
    }
    const TimedSeries series = TimedOf(Joined(parts), IntervalOf(command));
    if (series.readings.empty())
        throw CliError(QStringLiteral("The data files hold no readings to report."));

    NoiseReportDetails details;
    details.title = command.value("title");
    details.company = command.value("company");
    details.place = command.value("place");
    details.notes = command.value("notes");
    details.source = names.join(QStringLiteral(", "));
    SystemClock clock;
    WriteNoiseReportPdf(command.value("definition"), series, settings, alarm, details, command.value("output"), clock);
    return ExitDone;
}

} // namespace

int main(int argc, char* argv[])
{
    // The pages are painted off screen: no display is needed, or looked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    InstallCliMessageHandler();
    QGuiApplication application(argc, argv);
    CliCommand writer = ReportCommand();
    writer.run = WriteReport;
    QStringList arguments = QGuiApplication::arguments().mid(2);
    arguments.prepend(QStringLiteral("decimora-cli report"));
    return RunCliCommand(writer, arguments);
}
