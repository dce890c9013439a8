#include "output/BiffSheet.h"

#include <bit>
#include <cstring>

namespace {

// The writer hands the file a block of this size at a time.
constexpr qsizetype BlockBytes = qsizetype(1) << 20;

// The format index of a blank cell.
constexpr std::uint32_t BlankFormat = 23;

} // namespace

BiffSheet::BiffSheet(std::function<void(QByteArrayView)> write)
    : write_(std::move(write))
{
    buffer_.reserve(BlockBytes + 1024);
}

void BiffSheet::put16(std::uint32_t value)
{
    buffer_.append(char(value & 0xFF));
    buffer_.append(char((value >> 8) & 0xFF));
}

void BiffSheet::put32(std::uint32_t value)
{
    put16(value & 0xFFFF);
    put16(value >> 16);
}

void BiffSheet::flushIfFull()
{
    if (buffer_.size() >= BlockBytes) {
        write_(buffer_);
        buffer_.resize(0);
    }
}

void BiffSheet::begin()
{
    put16(0x0809);
    put16(8);
    put16(0x0000); // version
    put16(0x0010); // worksheet
    put16(0);
    put16(0);
}

void BiffSheet::end()
{
    put16(0x000A);
    put16(0);
    write_(buffer_);
    buffer_.resize(0);
}

void BiffSheet::label(std::uint32_t row, std::uint32_t col, const QString& text)
{
    // The sheet names no code page: readers take Latin-1 (characters outside it become "?"). A
    // BIFF5 cell holds 255 characters at most; anything longer would make a record that readers
    // refuse, or wrap its 16-bit length.
    QByteArray bytes = text.toLatin1();
    bytes.truncate(255);
    put16(0x0204);
    put16(std::uint32_t(bytes.size()) + 8);
    put16(row);
    put16(col);
    put16(0);
    put16(std::uint32_t(bytes.size()));
    buffer_.append(bytes);
    flushIfFull();
}

void BiffSheet::number(std::uint32_t row, std::uint32_t col, double value)
{
    put16(0x0203);
    put16(14);
    put16(row);
    put16(col);
    put16(0);
    const auto bits = std::bit_cast<std::uint64_t>(value);
    put32(std::uint32_t(bits & 0xFFFFFFFFU));
    put32(std::uint32_t(bits >> 32));
    flushIfFull();
}

void BiffSheet::integer(std::uint32_t row, std::uint32_t col, std::int32_t value)
{
    put16(0x027E);
    put16(10);
    put16(row);
    put16(col);
    put16(0);
    put32((std::uint32_t(value) << 2) | 2U);
    flushIfFull();
}

void BiffSheet::blank(std::uint32_t row, std::uint32_t col)
{
    put16(0x0201);
    put16(6);
    put16(row);
    put16(col);
    put16(BlankFormat);
    flushIfFull();
}
