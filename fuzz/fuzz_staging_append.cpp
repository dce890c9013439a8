// The staging file's lines appended to a table, as the download's and the load's bulk append do it.
#include "FuzzSupport.h"
#include "datafile/StagingFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    EnsureFuzzApplication();
    MemoryReadingTable table;
    table.appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
    try {
        StagingFileLease staging = StagingFileLease::acquire(FuzzScratchFolder(), QStringLiteral("fuzzing"));
        staging.recreate();
        staging.writeLines(QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
        AppendStagingTable(staging, table);
    } catch (const DecimoraError&) {
        // All or nothing: a refused staging file must leave the table as it was.
        if (table.rowCount() != 1)
            std::abort();
    }
    return 0;
}
