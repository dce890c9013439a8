#include "cli/CliOutput.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace {

bool qtMessagesShown = false;

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
    std::fprintf(stderr, "decimora-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void Print(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

void InstallCliMessageHandler()
{
    qInstallMessageHandler(QtMessage);
}

void ShowQtMessages(bool show)
{
    qtMessagesShown = show;
}
