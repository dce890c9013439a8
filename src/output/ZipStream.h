#pragma once

// A ZIP archive written entry by entry into a file, each entry's bytes deflated as they come: the
// container of an .xlsx workbook. An entry's bytes go through deflate and to the file in blocks, so a
// long entry takes no more memory than one block. The file is seekable, so each entry's local header
// is completed in place once its sizes and CRC are known (no data descriptors: every reader takes
// that form). No ZIP64: the entries of a workbook stay far below 4 GiB.

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <memory>
#include <vector>

class ZipStream {
public:
    // Deflate level 1: a sheet of a million rows compresses at about four times the speed of the
    // default level, for a file about a third larger.
    static constexpr int CompressionLevel = 1;

    // Opens the file for writing, emptying it. Throws SpreadsheetExportError naming shownPath.
    ZipStream(const QString& path, const QString& shownPath);
    ~ZipStream();

    ZipStream(const ZipStream&) = delete;
    ZipStream& operator=(const ZipStream&) = delete;

    // Starts the next entry, ending the one before.
    void startEntry(const QString& name);
    void write(QByteArrayView bytes);
    // Ends the last entry, writes the central directory and flushes the file (it stays open until
    // this object goes). Throws SpreadsheetExportError with the system's reason.
    void finish();

private:
    struct Entry {
        QByteArray name;
        qint64 headerOffset = 0;
        quint32 crc = 0;
        qint64 compressedSize = 0;
        qint64 size = 0;
    };
    struct Deflater;

    void endEntry();
    void deflate(QByteArrayView bytes, bool last);
    void put(QByteArrayView bytes);
    [[noreturn]] void fail() const;

    QString shownPath_;
    QFile file_;
    std::vector<Entry> entries_;
    std::unique_ptr<Deflater> deflater_;
    QByteArray compressed_;
    bool inEntry_ = false;
};
