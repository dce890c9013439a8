#pragma once

// decimora-cli: the commands of the headless tool, reading the meter and the data files with the
// libraries the windows use. RunCli is the whole tool but for main()'s application object, so that
// the tool's paths can be driven in-process too. Each command is a file of its own.

#include "cli/CliOptions.h"

#include <QStringList>

#include <vector>

// The exit codes: 0 done, 1 failed (one message on the error output), 2 bad usage (a message and a
// usage line).
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// Runs the command the arguments name (arguments[0] is the program). Needs a QCoreApplication.
int RunCli(const QStringList& arguments);
// Runs one command on its arguments (arguments[0] names it) as RunCli does once it has chosen it: bad
// usage, failures and their messages and exit codes alike. For decimora-report, which reads report's
// table and runs a writer of its own.
int RunCliCommand(const CliCommand& command, const QStringList& arguments);

// Reads and checks the arguments as RunCli does up to the moment its command would run, and runs
// nothing: throws UsageError where RunCli would end with exit code 2. Touches neither the meter nor
// a file; prints a command's --help when asked for it.
void CheckCommandLine(const QStringList& arguments);

// Every command, in the order the general help lists them.
const std::vector<const CliCommand*>& CliCommandTable();

const CliCommand& DevicesCommand();
const CliCommand& LiveCommand();
const CliCommand& DownloadCommand();
const CliCommand& SetupCommand();
const CliCommand& ConvertCommand();
const CliCommand& StatsCommand();
const CliCommand& ReportCommand();
