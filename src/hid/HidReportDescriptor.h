#pragma once

#include <cstddef>
#include <cstdint>

// What the program needs to know from a HID report descriptor: the longest input and output report in
// bytes, the report id byte included (also for devices without numbered reports, whose reports then
// travel with report id 0).
struct HidReportSummary {
    std::uint16_t inputLength = 0;
    std::uint16_t outputLength = 0;
    bool numberedReports = false;
    bool valid = false;
};

HidReportSummary ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t length);
