#pragma once

#include "core/threads/BackgroundTask.h"

#include <QThreadPool>

// One thread that runs its work one piece at a time, in the order it was handed over: a later
// write never lands before an earlier one. The keychain and the activity history each have one.
class SerialQueue {
public:
    SerialQueue()
    {
        m_pool.setMaxThreadCount(1);
        m_pool.setExpiryTimeout(-1);
    }
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Runs `work` on the queue's thread, as runInBackground does.
    template <typename Work>
    auto run(Work work)
    {
        return runInBackground(std::move(work), &m_pool);
    }
    // Ends when everything handed over so far has run.
    QCoro::Task<> idle()
    {
        return run([] {});
    }

private:
    QThreadPool m_pool;
};
