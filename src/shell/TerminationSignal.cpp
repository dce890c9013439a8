#include "shell/TerminationSignal.h"

#include <QObject>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

// Written by the handler, read by the event loop: a write() is all a signal handler may safely do.
int signalPipe[2] = { -1, -1 };

void noteSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a signal that has not been handled: nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

bool InstallTerminationSignal()
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action { };
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0;
}

void OnTerminationSignal(QObject* context, std::function<void()> onSignal)
{
    if (signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [onSignal = std::move(onSignal)] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) { }
        onSignal();
    });
}
