#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>

// A few threads working through the same job list, each on its own data, so no data moves
// between cores and no thread ever waits for another's output. Worker 0 is the calling thread.
class WorkerGroup {
public:
    // Hardware threads, at least 1 and at most 4.
    static int defaultSize();

    // Runs work(worker) on size threads until each returns. The first exception makes stopped()
    // true for the others, which return at their next check; run() then rethrows it.
    void run(int size, const std::function<void(int worker)>& work);
    bool stopped() const { return m_stopped.load(std::memory_order_relaxed); }

private:
    void fail(std::exception_ptr error);

    std::atomic<bool> m_stopped{false};
    std::mutex m_mutex;
    std::exception_ptr m_error;
};

// A heap buffer whose start is aligned to 64 bytes.
class AlignedBuffer {
public:
    static constexpr std::size_t alignment = 64;

    explicit AlignedBuffer(std::size_t size)
        : m_bytes(static_cast<std::uint8_t*>(::operator new[](size, std::align_val_t(alignment))))
    {
    }
    std::uint8_t* data() const { return m_bytes.get(); }

private:
    struct Delete {
        void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t(alignment)); }
    };
    std::unique_ptr<std::uint8_t[], Delete> m_bytes;
};
