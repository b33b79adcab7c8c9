#include "core/threads/FileWorkQueue.h"

#include <QThreadPool>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

FileWorkQueue::FileWorkQueue()
    : m_pool(std::make_unique<QThreadPool>())
{
    // A job's stages run one after another; a cancelled job may still be winding down.
    m_pool->setMaxThreadCount(4);
}

FileWorkQueue::~FileWorkQueue() = default;

void FileWorkQueue::lowerThisThread()
{
#ifdef Q_OS_LINUX
    // On Linux the nice value belongs to the thread; threads started later inherit it. It can
    // only be raised, which is why the pool's threads run nothing but this queue's work.
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    const auto thread = static_cast<id_t>(::gettid());
    ::setpriority(PRIO_PROCESS, thread, std::min(::getpriority(PRIO_PROCESS, thread) + 10, 19));
#endif
}
