#include "cli/CliOutput.h"

#include <QtGlobal>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool qtMessagesShown = false;
// Why the first write to standard output failed: a text longer than stdio's buffer is written, and
// fails, while it is printed, and stdio keeps only its error flag.
int printError = 0;

void QtMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtFatalMsg) {
        Say(QStringLiteral("internal error: %1").arg(text));
        std::abort();
    }
    if (qtMessagesShown)
        Say(QStringLiteral("qt: %1").arg(text));
}

} // namespace

void Say(const QString& text)
{
    // The program's messages break their lines with "\r", for a message box; here a message is one line,
    // and a "\r" would make the terminal write its second sentence over the first.
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    std::fprintf(stderr, "decimora-cli: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

void Print(const QString& text)
{
    if (std::fputs(text.toLocal8Bit().constData(), stdout) == EOF && printError == 0)
        printError = errno;
}

QString FlushStandardOutput()
{
    if (std::fflush(stdout) != 0 && printError == 0)
        printError = errno;
    // The error flag stays set after an earlier write that failed.
    if (printError == 0 && !std::ferror(stdout))
        return {};
    return QStringLiteral("Cannot write to the standard output: %1")
        .arg(QString::fromLocal8Bit(std::strerror(printError != 0 ? printError : EIO)));
}

void InstallCliMessageHandler()
{
    qInstallMessageHandler(QtMessage);
}

void ShowQtMessages(bool show)
{
    qtMessagesShown = show;
}
