#pragma once

// The program's command line: --simulate-meter[=MEMORY.bin], and the standard --help and --version of
// QCommandLineParser.

#include "meter/MeterChoice.h"

#include <QCoreApplication>
#include <QStringList>

struct CommandLine {
    enum class Outcome {
        // Start the program.
        Run,
        // The help or version text has been printed: end with 0.
        Answered,
        // An unknown option, an argument, or a meter memory file that cannot be read: the reason and a
        // one-line usage have been printed to the error output; end with 2.
        Refused,
    };
    Outcome outcome = Outcome::Run;
    // --simulate-meter, and with =MEMORY.bin the simulated meter's logged memory, the file's bytes (a
    // dump written by decimora-cli download --raw).
    MeterChoice meter;

    int exitCode() const { return outcome == Outcome::Refused ? 2 : 0; }
};

// True when an argument asks for --help or --version. main() answers those before it creates the
// widgets' application, which aborts without a display before any argument is read.
bool AsksForText(int argc, char** argv);

// Reads the arguments (by default QCoreApplication::arguments(): the application must exist, and the
// widgets' one has already taken its own options out) and prints what the outcome says it has.
CommandLine ReadCommandLine(const QStringList& arguments = QCoreApplication::arguments());
