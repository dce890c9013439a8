// decimora-cli: the headless tool. A QCoreApplication, so that it runs without a display (a logger on
// a small box with no screen, a script over ssh); everything else is in RunCli.

#include "cli/CliCommands.h"
#include "cli/CliOutput.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char** argv)
{
    // A reader that goes away (a pipe into head) is a write error the tool reports, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    InstallCliMessageHandler();
    const QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("decimora-cli"));
    return RunCli(QCoreApplication::arguments());
}
