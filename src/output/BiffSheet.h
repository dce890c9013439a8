#pragma once

// The worksheet stream of an .xls file: BOF, one record per cell, EOF, little-endian throughout,
// without the compound-document container around it.

#include "output/SheetCells.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

class BiffSheet final : public SheetCells {
public:
    // write takes the stream a block at a time; an exception from it passes through.
    explicit BiffSheet(std::function<void(QByteArrayView bytes)> write);

    void begin();
    // EOF, then the rest of the stream to write.
    void end();

    // Only the low 16 bits of the row and the column are written.
    void label(std::uint32_t row, std::uint32_t col, const QString& text) override;
    void number(std::uint32_t row, std::uint32_t col, double value) override;
    void integer(std::uint32_t row, std::uint32_t col, std::int32_t value) override;
    void blank(std::uint32_t row, std::uint32_t col) override;

private:
    void put16(std::uint32_t value);
    void put32(std::uint32_t value);
    void flushIfFull();

    std::function<void(QByteArrayView)> write_;
    QByteArray buffer_;
};
