#include "core/local/WorkerGroup.h"

#include <algorithm>
#include <thread>
#include <vector>

int WorkerGroup::defaultSize()
{
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

void WorkerGroup::fail(std::exception_ptr error)
{
    std::lock_guard lock(m_mutex);
    if (!m_error)
        m_error = std::move(error);
    m_stopped.store(true, std::memory_order_relaxed);
}

void WorkerGroup::run(int size, const std::function<void(int worker)>& work)
{
    auto guarded = [this, &work](int worker) {
        try {
            work(worker);
        } catch (...) {
            fail(std::current_exception());
        }
    };
    std::vector<std::thread> threads;
    try {
        for (int worker = 1; worker < size; ++worker)
            threads.emplace_back(guarded, worker);
    } catch (...) {
        // A thread that cannot start fails the whole run; the started ones stop and are joined.
        fail(std::current_exception());
    }
    if (!stopped())
        guarded(0);
    for (std::thread& thread : threads)
        thread.join();
    if (m_error)
        std::rethrow_exception(m_error);
}
