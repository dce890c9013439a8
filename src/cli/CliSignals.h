#pragma once

// Signals as events on the main thread: SIGINT and SIGTERM end a command cleanly, and with the
// simulated meter SIGUSR1 pulls its cable and SIGUSR2 plugs it back. The handler only writes the
// signal's number into a pipe; the event loop reads it and emits caught().

#include <QObject>

#include <initializer_list>
#include <vector>

class QSocketNotifier;

class SignalEvents final : public QObject {
    Q_OBJECT

public:
    // Catches the given signals from now on, for as long as this object lives. Only one may exist.
    explicit SignalEvents(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalEvents() override;

signals:
    void caught(int signalNumber);

private:
    QSocketNotifier* notifier_ = nullptr;
    std::vector<int> signals_;
};
