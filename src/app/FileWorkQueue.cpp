#include "FileWorkQueue.h"

#include <QThreadPool>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

std::unique_ptr<QThreadPool> makeFileWorkQueue()
{
    auto queue = std::make_unique<QThreadPool>();
    // A job's stages run one after another; a cancelled job may still be winding down.
    queue->setMaxThreadCount(4);
    return queue;
}

void lowerThreadBelowWindow()
{
#ifdef Q_OS_LINUX
    // On Linux the nice value belongs to the thread; threads started later inherit it. It can
    // only be raised, which is why the queue's threads never run anything else.
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    const pid_t thread = ::gettid();
    const int niceNow = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), std::min(niceNow + 10, 19));
#endif
}
