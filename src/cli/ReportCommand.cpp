// decimora-cli report: the noise report of data files as a PDF file.
//
// A PDF is painted with Qt Gui, which this tool does not link (a box without a screen need not have
// it), so the pages are written by its companion decimora-report: the same option table read there,
// the report definition and the company name found here and handed over. The companion's messages and
// exit code are the tool's.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/NoiseOptions.h"
#include "core/PrivateProfile.h"
#include "core/ProgramFolders.h"
#include "core/SettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#ifndef DECIMORA_INSTALLED_HELPER_FOLDER
#error "DECIMORA_INSTALLED_HELPER_FOLDER: the installed companion programs' folder relative to the executable's folder"
#endif

namespace {

constexpr char HelperName[] = "decimora-report";
constexpr char DefinitionName[] = "Decimora_noise_en.rav";

// Beside this program (a build tree), else in the installed companions' folder.
QString HelperPath()
{
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate : { here.filePath(QLatin1String(HelperName)),
             QDir(here.filePath(QStringLiteral(DECIMORA_INSTALLED_HELPER_FOLDER)))
                 .filePath(QLatin1String(HelperName)) }) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return {};
}

// The company name of the desktop program's settings: the report's title block names it.
QString SettingsCompanyName(const ProgramFolders& folders)
{
    const std::optional<PrivateProfile> settings
        = PrivateProfile::load(QDir(folders.settingsFolder()).filePath(QLatin1String(SettingsFileName)));
    if (!settings)
        return {};
    return settings->readString(QLatin1String(SettingsSection), QStringLiteral("COMPANY_NAME"), QString());
}

// The options of the command line again, as the companion reads them with the same table.
QStringList OptionsOf(const ParsedCommand& command)
{
    QStringList arguments { QStringLiteral("report") };
    for (const CliOption& option : command.command().options) {
        if (!command.isSet(option.name))
            continue;
        arguments << QStringLiteral("--") + QLatin1String(option.name);
        if (option.valueName)
            arguments << command.value(option.name);
    }
    return arguments;
}

// The command line checked as a whole before anything runs; the helper reads it again.
void CheckReportRequest(const ParsedCommand& command)
{
    if (command.positionalArguments().isEmpty())
        throw UsageError(QStringLiteral("report needs at least one data file."));
    if (!command.isSet("output") || command.value("output").isEmpty())
        throw UsageError(QStringLiteral("report needs --output FILE.pdf."));
    // Checked here too, so that a bad value is told with this command's usage line.
    NoiseSettingsOf(command, HighAlarmOf(command));
    IntervalOf(command);
}

int RunReport(const ParsedCommand& command)
{
    CheckReportRequest(command);

    const QString helper = HelperPath();
    if (helper.isEmpty()) {
        throw CliError(QStringLiteral("The report needs %1, which writes its pages, and it is not installed beside "
                                      "decimora-cli.")
                           .arg(QLatin1String(HelperName)));
    }
    const ProgramFolders folders = ProgramFolders::forExecutable(QCoreApplication::applicationDirPath());
    QStringList arguments = OptionsOf(command);
    if (!command.isSet("definition"))
        arguments << QStringLiteral("--definition")
                  << QDir(folders.resourceFolder()).filePath(QLatin1String(DefinitionName));
    if (!command.isSet("company"))
        arguments << QStringLiteral("--company") << SettingsCompanyName(folders);
    // The files after "--", so that a name that starts with a dash stays a name.
    arguments << QStringLiteral("--") << command.positionalArguments();

    QProcess writer;
    writer.setProcessChannelMode(QProcess::ForwardedChannels);
    writer.setInputChannelMode(QProcess::ForwardedInputChannel);
    writer.start(helper, arguments);
    if (!writer.waitForStarted(-1))
        throw CliError(QStringLiteral("%1 cannot be started: %2").arg(helper, writer.errorString()));
    writer.waitForFinished(-1);
    if (writer.exitStatus() != QProcess::NormalExit)
        throw CliError(QStringLiteral("%1 ended without finishing the report.").arg(helper));
    return writer.exitCode();
}

} // namespace

const CliCommand& ReportCommand()
{
    static const CliCommand command {
        .name = "report",
        .summary = "the noise report of data files as a PDF file",
        .description
        = "Writes the noise report of the data files, taken together as one measurement in the order given, to a "
          "PDF file: a title block, the time history, the period levels, the hours, the events and the "
          "statistics, with the figures of stats --periods --hourly --events. The file is replaced only once the "
          "new one is complete.",
        .options = [] {
            std::vector<CliOption> options {
                { .name = "output", .description = "The PDF file to write.", .valueName = "FILE.pdf" },
                { .name = "title",
                    .description = "The report's title (default \"Noise Assessment\").",
                    .valueName = "TEXT",
                    .defaultValue = "Noise Assessment" },
                { .name = "place", .description = "Where the readings were taken.", .valueName = "TEXT" },
                { .name = "notes", .description = "What the report says besides the figures.", .valueName = "TEXT" },
                { .name = "company",
                    .description = "The company named in the title block (default: the one of the program's "
                                   "settings).",
                    .valueName = "NAME" },
                { .name = "interval",
                    .description = "Whole seconds each reading stands for; without it each reading lasts as the "
                                   "time stamps say.",
                    .valueName = "S" },
                { .name = "high-alarm",
                    .description = "The level in dB the statistics count the readings above (default 85).",
                    .valueName = "DB",
                    .defaultValue = "85" },
                { .name = "definition",
                    .description = "The report definition (default: the installed Decimora_noise_en.rav).",
                    .valueName = "FILE.rav",
                    .hidden = true },
            };
            const std::vector<CliOption> noise = NoiseOptionTable();
            options.insert(options.end(), noise.begin(), noise.end());
            return options;
        }(),
        .arguments = {
            { .name = "FILE.dmr", .description = "Data files.", .usage = "FILE.dmr..." },
        },
        .talksToMeter = false,
        .check = CheckReportRequest,
        .run = RunReport,
    };
    return command;
}
