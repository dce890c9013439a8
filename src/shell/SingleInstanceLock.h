#pragma once

// Keeps a second copy of the program from running, and tells the start-up whether the previous copy
// ended without its close.
//
// The lock is a file "<name>.lock" in a folder that survives a power cut, held with flock() for as
// long as the program runs. The kernel drops the flock when the process dies however it dies, so a
// crashed copy never blocks the next start. The file itself is removed only after a normal close
// (EndedNormally); finding it on disk without an owner therefore means the previous copy crashed,
// was killed or lost its power before its close, or ended keeping readings for the next start
// (EndedKeepingReadings). The file holds a note of the owner (the path of its database), so the next
// start knows where that copy kept its readings, and a line saying when they were kept on purpose.

#include <QString>

class SingleInstanceLock {
public:
    enum class Outcome {
        Acquired,
        // Another running copy holds the lock (also when the lock file cannot be created: the
        // program cannot tell that nobody else runs).
        HeldElsewhere,
    };

    SingleInstanceLock(QString folder, QString name);
    // Releases the lock and keeps the file, unless EndedNormally() has run.
    ~SingleInstanceLock();

    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Takes the lock, waiting up to 100 ms for a copy that is just ending, and records note in it.
    Outcome TryAcquire(const QString& note);
    bool Held() const { return fd_ >= 0; }

    // After a successful TryAcquire: whether the lock file was left behind by a copy that did not
    // close, and what that copy had noted in it.
    bool PreviousEndedWithoutClose() const { return previousEndedWithoutClose_; }
    const QString& PreviousNote() const { return previousNote_; }
    // Whether that copy ended through EndedKeepingReadings, rather than by a crash.
    bool PreviousKeptReadings() const { return previousKeptReadings_; }

    // The program has closed normally: the lock file goes, then the lock.
    void EndedNormally();
    // The program has closed, leaving readings not saved in its tables for the next start to rescue:
    // the lock goes, the file stays and says so.
    void EndedKeepingReadings();

    QString FilePath() const;

private:
    void Close();

    QString folder_;
    QString name_;
    int fd_ = -1;
    bool previousEndedWithoutClose_ = false;
    bool previousKeptReadings_ = false;
    QString note_;
    QString previousNote_;
};
