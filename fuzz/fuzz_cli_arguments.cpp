// decimora-cli's command line, each argument as the shell hands it over (the input's bytes split at
// NUL, which no argument can hold), read and checked as the tool does before a command runs, and
// nothing run: no meter is looked for, no file written (a file an option names may be opened to see
// that it can be read). Whatever the arguments, the check passes or refuses them with a UsageError or
// another of the program's errors, as the tool would with exit code 2 or 1; any other exception, or a
// crash, is a fault.
#include "FuzzSupport.h"
#include "cli/CliCommands.h"
#include "cli/CliError.h"

#include <QStringList>

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    EnsureFuzzApplication();
    // A command's --help goes to standard output; millions of them would only slow the run.
    static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    constexpr qsizetype MostArguments = 64;
    QStringList arguments { QStringLiteral("decimora-cli") };
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    qsizetype start = 0;
    while (start <= bytes.size() && arguments.size() <= MostArguments) {
        qsizetype end = bytes.indexOf('\0', start);
        if (end < 0)
            end = bytes.size();
        arguments << QString::fromLocal8Bit(bytes.sliced(start, end - start));
        start = end + 1;
    }
    try {
        CheckCommandLine(arguments);
    } catch (const UsageError&) {
        // The answer to most inputs.
    } catch (const DecimoraError&) {
        // A file named on the command line that cannot be read, or is not what the command reads.
    }
    return 0;
}
