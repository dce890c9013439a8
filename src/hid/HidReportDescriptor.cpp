#include "hid/HidReportDescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

enum ItemType { Main = 0, Global = 1, Local = 2 };
enum MainTag { Input = 0x8, Output = 0x9 };
enum GlobalTag { ReportSize = 0x7, ReportId = 0x8, ReportCount = 0x9, Push = 0xA, Pop = 0xB };

struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

std::uint16_t LongestReport(const std::map<std::uint32_t, std::uint64_t>& bitsById)
{
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : bitsById)
        longest = std::max(longest, (bits + 7) / 8 + 1);
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(longest, 0xFFFF));
}

} // namespace

HidReportSummary ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t length)
{
    HidReportSummary summary;
    std::map<std::uint32_t, std::uint64_t> inputBits;
    std::map<std::uint32_t, std::uint64_t> outputBits;
    Globals globals;
    std::vector<Globals> stack;

    std::size_t pos = 0;
    while (pos < length) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == 0xFE) { // long item: size, tag, data
            if (pos + 1 >= length)
                return summary;
            pos += 3 + descriptor[pos + 1];
            continue;
        }
        const std::size_t size = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        if (pos + 1 + size > length)
            return summary;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i)
            value |= static_cast<std::uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
        const int type = (prefix >> 2) & 0x3;
        const int tag = prefix >> 4;
        pos += 1 + size;

        if (type == Global) {
            switch (tag) {
            case ReportSize:
                globals.reportSize = value;
                break;
            case ReportCount:
                globals.reportCount = value;
                break;
            case ReportId:
                globals.reportId = value;
                summary.numberedReports = true;
                break;
            case Push:
                stack.push_back(globals);
                break;
            case Pop:
                if (!stack.empty()) {
                    globals = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break;
            }
        } else if (type == Main && (tag == Input || tag == Output)) {
            auto& bits = tag == Input ? inputBits : outputBits;
            bits[globals.reportId] += static_cast<std::uint64_t>(globals.reportSize) * globals.reportCount;
        }
    }
    summary.inputLength = LongestReport(inputBits);
    summary.outputLength = LongestReport(outputBits);
    summary.valid = true;
    return summary;
}
