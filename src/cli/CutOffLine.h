#pragma once

// A file the logger appends to may end in a line that was cut off: the power went, or the disk
// filled, while the line was being written, and only part of it (or, after a power cut, zeros in its
// place) reached the disk. The next reading appended to it would be glued onto that torso, and the two
// would make one corrupt line that may still look like a reading. So before appending, whatever follows
// the file's last line end is dropped; the reading it held was never written whole.

#include <QByteArray>
#include <QString>

#include <optional>

// Drops the bytes after the last line end of the open file fd (the whole file when it has no line
// end), which path names in messages. Gives the bytes dropped, or nothing when the file is empty or
// ends with a line end. Throws CliError when the file cannot be read or shortened.
std::optional<QByteArray> DropCutOffLine(int fd, const QString& path);

// What the user is told about the dropped bytes: the file, how many bytes, and a short start of them
// with anything unprintable as "?".
QString CutOffLineNote(const QString& path, const QByteArray& dropped);
