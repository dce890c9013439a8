#pragma once

// A disk that is full once a file reaches the given size, for as long as the object lives: with the
// file size limit (RLIMIT_FSIZE) every write past it fails, "File too large", as a write to a full
// disk fails. SIGXFSZ, which would end the process instead, is ignored meanwhile. Programs started
// meanwhile inherit the limit.

#include <csignal>

#include <sys/resource.h>

class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
        : previousHandler_(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &original_);
        rlimit limited = original_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~ScopedFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &original_);
        std::signal(SIGXFSZ, previousHandler_);
    }

    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    void (*previousHandler_)(int);
    rlimit original_ {};
};
