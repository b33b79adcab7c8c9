#pragma once

#include <memory>
#include <utility>

class QThreadPool;

// The queue for the file work behind the window: bundling, sealing and opening. That work can
// keep every core busy for minutes, so its threads (and the workers they start, which inherit
// their priority) run below the window's: drawing a frame or answering a click never waits
// behind it, and the work still gets every cycle the window leaves.
std::unique_ptr<QThreadPool> makeFileWorkQueue();

// Lowers the calling thread's priority once; file work calls it first (see belowWindow).
void lowerThreadBelowWindow();

// `work`, lowering the priority of whichever queue thread runs it.
template <typename Work>
auto belowWindow(Work work)
{
    return [work = std::move(work)] {
        lowerThreadBelowWindow();
        return work();
    };
}
