// decimora-cli convert: a data file, or a live log of the tool's, into a data file or a spreadsheet.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/TableFiles.h"
#include "store/SqliteReadingStore.h"

namespace {

// IN.dmr and OUT.
QStringList ReadConvertFiles(const ParsedCommand& command)
{
    const QStringList files = command.positionalArguments();
    if (files.size() != 2)
        throw UsageError(QStringLiteral("convert needs two files, IN.dmr and OUT."));
    if (!TableFileKindOf(files[1]))
        throw UsageError(QStringLiteral("OUT must be a .dmr, .csv, .xlsx or .xls file, not '%1'.").arg(files[1]));
    return files;
}

int RunConvert(const ParsedCommand& command)
{
    const QStringList files = ReadConvertFiles(command);
    const WorkFolder work;
    const std::unique_ptr<SqliteReadingStore> store = work.store();
    LoadInto(work, store->loadData(), files[0]);
    WriteTableFile(store->loadData(), files[1]);
    return ExitDone;
}

} // namespace

const CliCommand& ConvertCommand()
{
    static const CliCommand command {
        .name = "convert",
        .summary = "turn a data file into another data file or a spreadsheet",
        .description = "Writes the readings of a data file, or of a CSV or JSON-lines log written by live, to a "
                       "data file or a spreadsheet, as File > Export to Excel does; the output is replaced only "
                       "once the new one is complete.",
        .options = {},
        .arguments = {
            { .name = "IN.dmr",
                .description = "A data file, or a log written by live (--format csv or jsonl).",
                .usage = "IN.dmr" },
            { .name = "OUT",
                .description = "The file to write: a data file (.dmr) or a spreadsheet (.csv, .xlsx, .xls).",
                .usage = "OUT.dmr|.csv|.xlsx|.xls" },
        },
        .talksToMeter = false,
        .check = [](const ParsedCommand& command) { ReadConvertFiles(command); },
        .run = RunConvert,
    };
    return command;
}
