#pragma once

// RFC 4180 text: fields separated by ",", records ended by CR LF, a field holding ",", a double
// quote, CR or LF enclosed in double quotes with its double quotes doubled.

#include <QByteArray>
#include <QByteArrayView>

// The size at which the CSV writer hands a block to the file.
inline constexpr qsizetype CsvBlockBytes = qsizetype(1) << 20;

inline void AppendCsvField(QByteArray& block, QByteArrayView field, bool lastOfRecord)
{
    bool quote = false;
    for (const char c : field) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        block.append(field);
    } else {
        block.append('"');
        for (const char c : field) {
            if (c == '"')
                block.append('"');
            block.append(c);
        }
        block.append('"');
    }
    block.append(lastOfRecord ? QByteArrayView("\r\n") : QByteArrayView(","));
}
