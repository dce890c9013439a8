#pragma once

// decimora-cli: the commands of the headless tool, reading the meter and the data files with the
// libraries the windows use. RunCli is the whole tool but for main()'s application object, so that
// the tool's paths can be driven in-process too.

#include <QStringList>

// The exit codes: 0 done, 1 failed (one message on the error output), 2 bad usage (a message and a
// usage line).
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// Runs the command the arguments name (arguments[0] is the program). Needs a QCoreApplication.
int RunCli(const QStringList& arguments);

// Writes Qt's own messages through the tool's: dropped unless --trace asked for them, so that a
// failure is one clear line and not a stack of warnings.
void InstallCliMessageHandler();
void ShowQtMessages(bool show);
