#pragma once

#include "core/threads/BackgroundTask.h"

#include <memory>
#include <utility>

class QThreadPool;

// The queue for the file work behind the window: bundling, sealing and opening. That work can
// keep every core busy for minutes, so its threads (and the workers they start, which inherit
// their priority) run below the window's: drawing a frame or answering a click never waits
// behind it, and the work still gets every cycle the window leaves.
class FileWorkQueue {
public:
    FileWorkQueue();
    ~FileWorkQueue();

    // Runs `work` on one of the queue's threads, as runInBackground does.
    template <typename Work>
    auto run(Work work)
    {
        return runInBackground(
            [work = std::move(work)] {
                lowerThisThread();
                return work();
            },
            m_pool.get());
    }

private:
    // Lowers the calling thread's priority, once per thread.
    static void lowerThisThread();

    std::unique_ptr<QThreadPool> m_pool;
};
