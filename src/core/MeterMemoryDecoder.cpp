#include "core/MeterMemoryDecoder.h"

#include "core/MeterProtocol.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace {

bool IsLeapYear(std::int32_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::int32_t DaysInMonth(std::int32_t year, std::int32_t month)
{
    static constexpr std::int32_t days[12] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Texts built in a small buffer with a single allocation each: they are made for every reading of
// downloads of hundreds of thousands.
class ShortText {
public:
    void number(std::int64_t value)
    {
        const auto result = std::to_chars(buffer_ + length_, buffer_ + Capacity, value);
        if (result.ec == std::errc())
            length_ = static_cast<int>(result.ptr - buffer_);
    }
    void separator(char c)
    {
        if (length_ < Capacity)
            buffer_[length_++] = c;
    }
    QString text() const { return QString::fromLatin1(buffer_, length_); }

private:
    static constexpr int Capacity = 48;
    char buffer_[Capacity];
    int length_ = 0;
};

QString ValueText(std::uint32_t tenths)
{
    ShortText text;
    text.number(tenths / 10);
    text.separator('.');
    text.number(tenths % 10);
    return text.text();
}

} // namespace

MeterMemoryDecoder::MeterMemoryDecoder()
{
    // Readings logged before any header still get a date and time the tables and files accept: the
    // start of the meter's year base, 2000.
    remakeTimeText();
    remakeDateText();
}

void MeterMemoryDecoder::StartDownload()
{
    importCount_ = 0;
    importRecNo_ = 0;
    statistics_.restart();
    headerPos_ = 0;
    wordPos_ = 0;
    inHeader_ = false;
}

void MeterMemoryDecoder::Dispatch(std::uint8_t b)
{
    if (b == EndOfLoggedData)
        return;
    bool taken = false;
    if (inHeader_) {
        FeedHeaderByte(b);
        taken = true;
    }
    // Also a 0xFD just taken as a header byte: a header broken off and begun again is read from its
    // new start.
    if (b == HeaderMark && wordPos_ == 0) {
        inHeader_ = true;
        headerPos_ = 0;
    }
    if (!inHeader_ && !taken)
        FeedDataByte(b);
}

void MeterMemoryDecoder::FeedHeaderByte(std::uint8_t b)
{
    headerBytes_[static_cast<std::size_t>(headerPos_)] = b;
    if (++headerPos_ < HeaderLength)
        return;
    inHeader_ = false;
    runStatus_ = headerBytes_[0];

    // A nibble above 9 still counts by its place (0x5A is 60); whatever is out of range then is
    // brought back to a real date and time so that the stamp can be advanced by plain carries.
    std::int32_t second = FromPackedBcd(headerBytes_[1]);
    std::int32_t minute = FromPackedBcd(headerBytes_[2]);
    std::int32_t hour = FromPackedBcd(headerBytes_[3]);
    std::int32_t day = FromPackedBcd(headerBytes_[4]);
    std::int32_t month = FromPackedBcd(headerBytes_[5]);
    const std::int32_t year = 2000 + FromPackedBcd(headerBytes_[6]);
    if (second >= 60)
        second = 0;
    if (minute >= 60)
        minute = 0;
    if (hour >= 24)
        hour = 0;
    if (day == 0 || day > 31)
        day = 1;
    month = std::clamp(month, 1, 12);
    day = std::min(day, DaysInMonth(year, month));
    stamp_ = { year, month, day, hour, minute, second };
    remakeTimeText();
    remakeDateText();
    importInterval_ = headerBytes_[7];

    if (headerSink_)
        headerSink_(runStatus_);
}

void MeterMemoryDecoder::FeedDataByte(std::uint8_t b)
{
    wordBytes_[static_cast<std::size_t>(wordPos_)] = b;
    if (++wordPos_ < PairLength)
        return;
    wordPos_ = 0;
    const std::uint32_t word
        = (std::uint32_t { wordBytes_[0] } << 16) | (std::uint32_t { wordBytes_[1] } << 8) | wordBytes_[2];
    const std::uint32_t first = word >> 13;
    const std::uint32_t second = (word >> 1) & 0xFFF;
    ++importCount_;
    EmitReading(first);
    ++importCount_;
    EmitReading(second);
}

void MeterMemoryDecoder::EmitReading(std::uint32_t r)
{
    DecodedReading reading;
    reading.recNo = importRecNo_;
    reading.tenths = r;
    reading.value = static_cast<double>(r) / 10.0;
    reading.valueText = ValueText(r);
    reading.weight = (runStatus_ & MeterStatus::CWeighting) ? QStringLiteral("C") : QStringLiteral("A");
    reading.dateText = stampDateText_;
    reading.timeText = stampTimeText_;

    advanceStamp();
    ++importRecNo_;
    statistics_.add(reading.value);

    // Last, so that a sink that fails (a full disk under the staging file) leaves the counts, the
    // statistics and the stamp agreeing with each other.
    if (readingSink_)
        readingSink_(reading);
}

void MeterMemoryDecoder::advanceStamp()
{
    if (importInterval_ == 0)
        return;
    // The interval is below 256 seconds, so at most one day is carried.
    const std::int32_t seconds = stamp_.second + importInterval_;
    stamp_.second = seconds % 60;
    const std::int32_t minutes = stamp_.minute + seconds / 60;
    stamp_.minute = minutes % 60;
    const std::int32_t hours = stamp_.hour + minutes / 60;
    stamp_.hour = hours % 24;
    remakeTimeText();
    if (hours < 24)
        return;
    if (++stamp_.day > DaysInMonth(stamp_.year, stamp_.month)) {
        stamp_.day = 1;
        if (++stamp_.month > 12) {
            stamp_.month = 1;
            ++stamp_.year;
        }
    }
    remakeDateText();
}

void MeterMemoryDecoder::remakeTimeText()
{
    ShortText text;
    text.number(stamp_.hour);
    text.separator(':');
    text.number(stamp_.minute);
    text.separator(':');
    text.number(stamp_.second);
    stampTimeText_ = text.text();
}

void MeterMemoryDecoder::remakeDateText()
{
    ShortText text;
    text.number(stamp_.month);
    text.separator('/');
    text.number(stamp_.day);
    text.separator('/');
    text.number(stamp_.year);
    stampDateText_ = text.text();
}
