#pragma once

// Every file the user keeps (data files, the settings file, spreadsheets, the data sheet as PDF, the
// tool's raw dumps) is written through here, so that a failure anywhere (a full disk, a file size
// limit, a folder that went away) leaves the earlier file as it was and says why in one wording:
// "Cannot write <file>: <the system's reason>".
//
// What the file's name points at decides how:
// - a regular file, or nothing yet: the bytes go to a temporary file beside it, every write checked
//   (nothing is buffered, so nothing can be lost unseen), synced, and renamed over the file only when
//   all is written; the new file keeps the old one's permissions.
// - a symbolic link: it is followed, and the file it names is replaced that way; the link stays.
// - anything else that exists (a device such as /dev/null, a FIFO, a terminal), and standard output
//   named "-", /dev/stdout or /dev/fd/1: written directly, never replaced (a rename would put a
//   regular file in the place of the device).

#include "core/DecimoraError.h"

#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <exception>

#include <sys/types.h>

class FileWriteError : public DecimoraError {
public:
    using DecimoraError::DecimoraError;
};

// A write-only device: as a QIODevice (for QPdfWriter, which writes through one) a failed write
// returns -1 and is kept for commit(); writeAll() throws at once.
class WholeFileWriter final : public QIODevice {
public:
    // Opens the file for writing as described above. Throws FileWriteError.
    explicit WholeFileWriter(const QString& target);
    // A file that was not committed is left as it was; the temporary file is removed.
    ~WholeFileWriter() override;

    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    // Writes every byte. Throws FileWriteError.
    void writeAll(QByteArrayView bytes);

    // For a library that writes its file by name (libxlsxwriter): the name to give it instead of the
    // target's. commit() then takes the file it wrote. Nothing may be written through this object.
    QString pathToWriteByName();

    // Syncs the file and puts it in the target's place. Throws FileWriteError, with the first failure
    // of a write made through the QIODevice interface if there was one.
    void commit();

    const QString& target() const { return target_; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    [[noreturn]] void fail(int systemError) const;
    void write(QByteArrayView bytes);
    void flush();
    void openTemporaryBeside(const QByteArray& file, bool exists, uid_t owner, gid_t group, mode_t mode);
    void writeToDescriptor(QByteArrayView bytes);
    void copyWrittenByName();
    void replace();
    void closeDescriptor();

    QString target_;
    // Where the bytes go: the temporary file beside the file to replace, or the target itself.
    int descriptor_ = -1;
    // The file replaced at commit(), and the temporary file beside it; both empty when the target is
    // written directly.
    QByteArray replaced_;
    QByteArray temporary_;
    // The file a library was told to write by name: the temporary file, or, for a target written
    // directly, a file in the temporary folder whose bytes commit() copies in.
    QByteArray writtenByName_;
    bool committed_ = false;
    // Small writes (a PDF is written a few bytes at a time) are gathered here; every flush is
    // checked, and commit() flushes before anything is put in place.
    QByteArray pending_;
    // The first failure of a write through the QIODevice interface.
    std::exception_ptr deviceFailure_;
};
