#include "cli/ProgressBar.h"

#include "cli/Console.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr auto quietPeriod = std::chrono::milliseconds(500);
constexpr auto redrawPeriod = std::chrono::milliseconds(100);
constexpr int barWidth = 24;

// "512.0 KiB", "1.5 GiB"
void formatBytes(char* out, std::size_t size, double bytes)
{
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    std::snprintf(out, size, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
}

} // namespace

ProgressBar::ProgressBar(const char* label)
    : m_label(label)
    , m_enabled(::isatty(STDERR_FILENO) == 1 && Console::level() != Console::Level::quiet)
    , m_start(Clock::now())
{
}

ProgressBar::~ProgressBar()
{
    finish();
}

void ProgressBar::update(qint64 done, qint64 total)
{
    if (!m_enabled)
        return;
    const auto now = Clock::now();
    if (now - m_start < quietPeriod || (m_drawn && now - m_lastDraw < redrawPeriod))
        return;
    m_lastDraw = now;
    m_drawn = true;

    const double fraction = total > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(total)) : 0.0;
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    char bar[barWidth + 1];
    const int filled = static_cast<int>(fraction * barWidth);
    for (int i = 0; i < barWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[barWidth] = '\0';
    char doneText[32], totalText[32], rateText[32];
    formatBytes(doneText, sizeof doneText, static_cast<double>(done));
    formatBytes(totalText, sizeof totalText, static_cast<double>(total));
    formatBytes(rateText, sizeof rateText, elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0);
    std::fprintf(stderr, "\r\033[K%s [%s] %3d%%  %s / %s  %s/s", m_label, bar, static_cast<int>(fraction * 100),
                 doneText, totalText, rateText);
    std::fflush(stderr);
}

void ProgressBar::finish()
{
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
}
