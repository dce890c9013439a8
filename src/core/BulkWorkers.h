#pragma once

// The threads a bulk save or load of a long run shares its work among. They exist only inside the one
// call: it starts them, and they are joined on every path out before it returns.

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

// Past four, the disk and the one writer on the calling thread are what the work waits for, and more
// threads only take cores from the rest of the desktop.
inline constexpr unsigned MostBulkWorkers = 4;

// How many threads work on one bulk job at once: one per core, at least one, at most MostBulkWorkers.
inline unsigned BulkWorkerCount()
{
    return std::clamp(std::thread::hardware_concurrency(), 1U, MostBulkWorkers);
}

// Starts work on a thread of its own, kept in threads. False, with work not run, when the system has
// no thread to give: the caller then does the work another way.
template <typename Work> bool TryStartBulkWorker(std::vector<std::jthread>& threads, Work&& work)
{
    try {
        threads.emplace_back(std::forward<Work>(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// Runs work on a thread of its own, or here and now when the system has no thread to give.
template <typename Work> void StartOrRunBulkWorker(std::vector<std::jthread>& threads, const Work& work)
{
    if (!TryStartBulkWorker(threads, work))
        work();
}
