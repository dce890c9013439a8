// A whole data file through the loader that File > Open uses: header, count, reading lines, staging
// file, table.
#include "FuzzSupport.h"
#include "datafile/DataFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    EnsureFuzzApplication();
    const QString path = WriteScratchFile("input.dmr", data, size);
    MemoryReadingTable table;
    try {
        StagingFileLease staging = StagingFileLease::acquire(FuzzScratchFolder(), QStringLiteral("fuzzing"));
        qint64 readings = 0;
        DataFileLoadHooks hooks;
        hooks.reading = [&readings](double) { ++readings; };
        const std::optional<DataFileLoad> load = LoadDataFile(path, table, staging, hooks);
        // Every reading the hooks were shown must have reached the table, and no other row.
        if (load && readings != table.rowCount())
            std::abort();
    } catch (const DecimoraError&) {
        // A file that is not a readable data file is refused with a message: fine.
    }
    return 0;
}
