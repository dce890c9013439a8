// A HID report descriptor as the kernel hands it over from any device that is plugged in.
#include "hid/HidReportDescriptor.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const HidReportSummary summary = ParseReportDescriptor(data, size);
    // A summary that is not valid must not carry lengths the platform would open a device with.
    if (!summary.valid && (summary.inputLength != 0 || summary.outputLength != 0))
        std::abort();
    return 0;
}
