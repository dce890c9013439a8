#pragma once

// A file the logger appends to may end in a line that was cut off: the power went, or the disk
// filled, while the line was being written, and only part of it (or, after a power cut, zeros in its
// place) reached the disk. The next reading appended to it would be glued onto that torso, and the two
// would make one corrupt line that may still look like a reading. So before appending, whatever follows
// the file's last line end is dropped; the reading it held was never written whole. A longer tail
// than any line of the tool's is no torso but another file's content, and is left alone.

#include <QByteArray>
#include <QString>

#include <optional>

// What was dropped: its size, and its first bytes for the note.
struct CutOffLine {
    qint64 size = 0;
    QByteArray start;
};

// Drops the bytes after the last line end of the open file fd (the whole file when it has no line
// end), which path names in messages. Nothing when the file is empty or ends with a line end. Throws
// CliError when the file cannot be read or shortened, and when its tail, zeros aside, is longer than
// any line the tool writes: then the file is no log of the tool's and stays as it is.
std::optional<CutOffLine> DropCutOffLine(int fd, const QString& path);

// What the user is told about the dropped bytes: the file, how many bytes, and a short start of them
// with anything unprintable as "?".
QString CutOffLineNote(const QString& path, const CutOffLine& dropped);
