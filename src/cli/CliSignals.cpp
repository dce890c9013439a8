#include "cli/CliSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = { -1, -1 };

void noteSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds signals not yet handled; one more of the same changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalEvents::SignalEvents(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent)
    , signals_(signalNumbers)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char bytes[16];
        ssize_t count = 0;
        while ((count = ::read(signalPipe[0], bytes, sizeof bytes)) > 0)
            for (ssize_t i = 0; i < count; ++i)
                emit caught(bytes[i]);
    });
    struct sigaction action { };
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signals_)
        ::sigaction(signalNumber, &action, nullptr);
}

SignalEvents::~SignalEvents()
{
    struct sigaction action { };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : signals_)
        ::sigaction(signalNumber, &action, nullptr);
}
