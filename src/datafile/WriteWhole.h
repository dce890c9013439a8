#pragma once

#include <QByteArrayView>
#include <QIODevice>

// Writes all bytes. A write that stops short (a full disk, a file size limit) reports no error in
// Qt; writing the rest does, so the device's error text then names the system's reason.
inline bool writeWhole(QIODevice& device, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qint64 written = device.write(bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes = bytes.sliced(qsizetype(written));
    }
    return true;
}
