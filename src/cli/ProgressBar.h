#pragma once

#include <QtGlobal>

#include <chrono>

// A one-line progress bar on standard error: percent, bytes and rate. Drawn only when standard
// error is a terminal, -q was not given and the work has taken longer than a moment; erased
// when done.
class ProgressBar {
public:
    explicit ProgressBar(const char* label);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(qint64 done, qint64 total);
    // Erases the line (if one was drawn) so what follows starts clean.
    void finish();

private:
    using Clock = std::chrono::steady_clock;

    const char* m_label;
    bool m_enabled;
    bool m_drawn = false;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
};
