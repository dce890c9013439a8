// Report lengths from real-world shaped report descriptors.
#include "hid/HidReportDescriptor.h"

#include <gtest/gtest.h>

#include <vector>

TEST(HidReportDescriptor, LongestInputAndOutputReportsIncludeTheReportIdByte)
{
    struct Case {
        const char* what;
        std::vector<std::uint8_t> descriptor;
        std::uint16_t input;
        std::uint16_t output;
        bool numbered;
    };
    const Case cases[] = {
        { "vendor device, 8-byte reports without ids",
            { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, // usage page (vendor), usage, collection
                0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, // 0..255, size 8, count 8
                0x09, 0x01, 0x81, 0x02, // input
                0x09, 0x01, 0x91, 0x02, // output
                0xC0 },
            9, 9, false },
        { "numbered reports: the longest one counts",
            { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, // report id 1
                0x75, 0x08, 0x95, 0x03, 0x81, 0x02, // 3 input bytes
                0x85, 0x02, 0x95, 0x3F, 0x81, 0x02, // report id 2: 63 input bytes
                0x95, 0x07, 0x91, 0x02, // 7 output bytes in report 2
                0xC0 },
            64, 8, true },
        { "bit fields round up to whole bytes",
            { 0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02, // 5 bits
                0x75, 0x03, 0x95, 0x01, 0x81, 0x01, // 3 padding bits
                0x75, 0x01, 0x95, 0x03, 0x91, 0x02, 0xC0 }, // 3 output bits
            2, 2, false },
        { "push and pop restore the report size",
            { 0x75, 0x08, 0x95, 0x02, 0xA4, 0x75, 0x10, 0x81, 0x02, 0xB4, 0x81, 0x02 }, 7, 0, false },
        { "four-byte item data and a long item are stepped over",
            { 0x77, 0x08, 0x00, 0x00, 0x00, 0x97, 0x04, 0x00, 0x00, 0x00, 0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x81, 0x02 }, 5,
            0, false },
    };
    for (const Case& c : cases) {
        const HidReportSummary summary = ParseReportDescriptor(c.descriptor.data(), c.descriptor.size());
        EXPECT_TRUE(summary.valid) << c.what;
        EXPECT_EQ(summary.inputLength, c.input) << c.what;
        EXPECT_EQ(summary.outputLength, c.output) << c.what;
        EXPECT_EQ(summary.numberedReports, c.numbered) << c.what;
    }
}

TEST(HidReportDescriptor, ATruncatedDescriptorIsNotTrusted)
{
    const std::vector<std::uint8_t> truncated { 0x75, 0x08, 0x96, 0x40 }; // two data bytes announced, one there
    EXPECT_FALSE(ParseReportDescriptor(truncated.data(), truncated.size()).valid);
}
