#pragma once

#include <QtGlobal>

#include <atomic>

// Figures a worker thread writes while it runs; another thread reads them whenever it likes.
struct ProgressCounter {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};

    void store(qint64 doneNow, qint64 totalNow)
    {
        total.store(totalNow, std::memory_order_relaxed);
        done.store(doneNow, std::memory_order_relaxed);
    }
    void load(qint64& doneNow, qint64& totalNow) const
    {
        doneNow = done.load(std::memory_order_relaxed);
        totalNow = total.load(std::memory_order_relaxed);
    }
};
