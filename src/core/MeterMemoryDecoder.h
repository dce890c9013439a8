#pragma once

// Turns the bytes of the meter's logged memory, as a download delivers them, into readings with
// record number, value, weighting, date and time. It has no widgets: the import window and the
// command-line tool both feed it, and each decides where the readings go.
//
// One decoder lives for the whole program run. The stamp, its texts, the interval, the status of the
// last run and the maximum and minimum carry over from one download to the next, so that readings
// logged before any header in a later download continue where the last one stopped.

#include "core/ReadingStatistics.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

// Date and time of the next decoded reading. Always a real date: the meter's bad headers are mended
// as they are read, so the stamp can be advanced with plain carries.
struct MeterStamp {
    std::int32_t year = 2000;
    std::int32_t month = 1;
    std::int32_t day = 1;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;

    bool operator==(const MeterStamp&) const = default;
};

struct DecodedReading {
    std::int64_t recNo = 0;
    std::uint32_t tenths = 0;
    double value = 0.0;
    QString valueText; // whole decibels, ".", one tenths digit: 65.3, 0.5, 100.0
    QString weight; // "A" or "C"
    QString dateText; // month/day/year, no leading zeros
    QString timeText; // hour:minute:second, no leading zeros
};

class MeterMemoryDecoder {
public:
    // Called once per reading, after the counts and statistics include it.
    using ReadingSink = std::function<void(const DecodedReading&)>;
    // Called when a run's header is complete, with the run's status byte.
    using HeaderSink = std::function<void(std::uint8_t status)>;

    static constexpr std::uint8_t HeaderMark = 0xFD;
    static constexpr int HeaderLength = 8;
    static constexpr int PairLength = 3;

    MeterMemoryDecoder();

    // A window that sets a sink clears it again before it goes; the decoder outlives it.
    void setReadingSink(ReadingSink sink) { readingSink_ = std::move(sink); }
    void setHeaderSink(HeaderSink sink) { headerSink_ = std::move(sink); }

    // Begins a download: the counts, the sum and any half-collected header or pair are dropped; the
    // stamp, the interval, the run status and the maximum and minimum stay until replaced.
    void StartDownload();
    // One downloaded byte. The end mark 0xFF belongs to the download's exchange and is ignored here.
    void Dispatch(std::uint8_t b);

    std::int64_t ImportCount() const { return importCount_; }
    std::int64_t ImportRecNo() const { return importRecNo_; }
    double ImportSum() const { return statistics_.count() == 0 ? 0.0 : statistics_.sum(); }
    // 0 until the first reading of the program run.
    double ImportMax() const { return statistics_.maximum(); }
    double ImportMin() const { return statistics_.minimum(); }
    // The same figures for those that colour rows or show them beside other windows' figures.
    const ReadingStatistics& statistics() const { return statistics_; }
    // 0 before the first reading of this download.
    double ImportAverage() const { return importCount_ == 0 ? 0.0 : ImportSum() / static_cast<double>(importCount_); }

    const MeterStamp& Stamp() const { return stamp_; }
    const QString& StampDateText() const { return stampDateText_; }
    const QString& StampTimeText() const { return stampTimeText_; }
    int ImportInterval() const { return importInterval_; }
    // Byte 0 of the last header (status-byte layout); 0, A weighting, before any header.
    std::uint8_t RunStatus() const { return runStatus_; }

    bool InHeader() const { return inHeader_; }
    int HeaderPos() const { return headerPos_; }
    int WordPos() const { return wordPos_; }
    const std::array<std::uint8_t, HeaderLength>& HeaderBytes() const { return headerBytes_; }
    const std::array<std::uint8_t, PairLength>& WordBytes() const { return wordBytes_; }

private:
    void FeedHeaderByte(std::uint8_t b);
    void FeedDataByte(std::uint8_t b);
    void EmitReading(std::uint32_t r);
    void advanceStamp();
    void remakeTimeText();
    void remakeDateText();

    ReadingSink readingSink_;
    HeaderSink headerSink_;

    bool inHeader_ = false;
    std::array<std::uint8_t, HeaderLength> headerBytes_ {};
    int headerPos_ = 0;
    std::array<std::uint8_t, PairLength> wordBytes_ {};
    int wordPos_ = 0;

    std::int64_t importCount_ = 0;
    std::int64_t importRecNo_ = 0;
    ReadingStatistics statistics_;

    MeterStamp stamp_;
    QString stampDateText_;
    QString stampTimeText_;
    int importInterval_ = 0;
    std::uint8_t runStatus_ = 0;
};
