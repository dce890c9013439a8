#pragma once

// A FIFO made at a path, with a reader on a thread of its own that takes everything written into it
// until the writer closes it: what a program at the other end of a named pipe would receive.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class FifoReader {
public:
    explicit FifoReader(const QString& path)
        : path_(QFile::encodeName(path))
    {
        if (::mkfifo(path_.constData(), 0600) != 0)
            return;
        reader_ = std::thread([this] {
            const int fifo = ::open(path_.constData(), O_RDONLY | O_CLOEXEC);
            if (fifo < 0)
                return;
            char block[65536];
            for (;;) {
                const ssize_t count = ::read(fifo, block, sizeof block);
                if (count <= 0)
                    break;
                received_.append(block, count);
            }
            ::close(fifo);
        });
    }

    ~FifoReader() { received(); }

    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    bool made() const { return reader_.joinable(); }

    // Everything written into the FIFO; call it once the writer is done. A reader still waiting for a
    // writer that never came is let go: the FIFO is opened for writing and closed at once, which
    // changes nothing for a reader that had its writer already.
    const QByteArray& received()
    {
        if (!reader_.joinable())
            return received_;
        const int release = ::open(path_.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (release >= 0)
            ::close(release);
        reader_.join();
        return received_;
    }

private:
    QByteArray path_;
    QByteArray received_;
    std::thread reader_;
};
