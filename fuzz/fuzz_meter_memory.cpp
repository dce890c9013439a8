// The meter's logged memory as a download delivers it, byte by byte, split into two downloads at a
// point the input chooses (the decoder carries its stamp over from one to the next).
#include "core/MeterMemoryDecoder.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    MeterMemoryDecoder decoder;
    std::int64_t readings = 0;
    decoder.setReadingSink([&readings](const DecodedReading& reading) {
        ++readings;
        if (reading.weight.isEmpty() || reading.dateText.isEmpty() || reading.timeText.isEmpty())
            std::abort();
    });
    const std::size_t split = data[0] % size;
    decoder.StartDownload();
    for (std::size_t i = 1; i < size; ++i) {
        if (i == split)
            decoder.StartDownload();
        decoder.Dispatch(data[i]);
    }
    const MeterStamp& stamp = decoder.Stamp();
    if (stamp.month < 1 || stamp.month > 12 || stamp.day < 1 || stamp.day > 31 || stamp.hour > 23 || stamp.minute > 59
        || stamp.second > 59)
        std::abort(); // the decoder promises a real date whatever the headers said
    return 0;
}
