#pragma once

// SIGTERM is what a desktop session's logout, a shutdown or `kill` sends. Left to its default it
// kills the program before its close, so the settings would be lost and the next start would take
// it for a crash; here it is turned into an event on the user-interface thread, where the frame ends
// the program properly.

#include <functional>

class QObject;

// Call first in main(): from then on a SIGTERM is noted instead of ending the process. False when
// the handler cannot be installed (the default then stays).
bool InstallTerminationSignal();

// Runs onSignal on the user-interface thread for each SIGTERM noted since InstallTerminationSignal(),
// for as long as context lives. A signal that came before the event loop ran is handled once it runs.
void OnTerminationSignal(QObject* context, std::function<void()> onSignal);
