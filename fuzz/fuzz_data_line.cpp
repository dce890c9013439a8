// One reading line of a data file, as DecodeDataLine meets it.
#include "datafile/DataFile.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QByteArray staging;
    try {
        const double value = DecodeDataLine(line, 42, staging);
        // A line that decodes must give a number and a staging line that decodes the same way again.
        if (std::isnan(value) || staging.isEmpty())
            std::abort();
    } catch (const DataFileError&) {
        // Refusing a line that is not a reading is the expected answer to most inputs.
    }
    return 0;
}
