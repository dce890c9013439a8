#pragma once

// What decimora-cli writes besides its files: results on standard output, everything else (notes,
// failures, Qt's own messages when asked for) on the error output.

#include <QString>

// One line on the error output: "decimora-cli: text".
void Say(const QString& text);
// Text on standard output, as it is.
void Print(const QString& text);
// Flushes standard output. Empty when everything printed reached it; otherwise the message that says
// it did not ("Cannot write to the standard output: No space left on device"), so that a command whose
// results were lost does not end as if it had succeeded. The first failure is kept: a later call
// tells it again.
QString FlushStandardOutput();

// Writes Qt's own messages through the tool's: dropped unless --trace asked for them, so that a
// failure is one clear line and not a stack of warnings.
void InstallCliMessageHandler();
void ShowQtMessages(bool show);
