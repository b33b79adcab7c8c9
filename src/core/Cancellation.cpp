#include "core/Cancellation.h"

#include <QByteArrayList>

#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const cancelledText = "The operation was cancelled; nothing was saved.";

std::mutex scratchMutex;
QByteArrayList& scratchFiles()
{
    static QByteArrayList files;
    return files;
}

} // namespace

void Cancellation::throwIfRequested() const
{
    if (requested())
        throw OperationCancelled();
}

OperationCancelled::OperationCancelled() : KorvoError(QString::fromUtf8(cancelledText)) {}

namespace ScratchFiles {

void track(const QByteArray& nativePath)
{
    const std::lock_guard lock(scratchMutex);
    scratchFiles().append(nativePath);
}

void release(const QByteArray& nativePath)
{
    const std::lock_guard lock(scratchMutex);
    scratchFiles().removeOne(nativePath);
}

void removeAll()
{
    const std::lock_guard lock(scratchMutex);
    // Newest first, so that a scratch folder goes after the files made in it.
    const QList<QByteArray>& paths = scratchFiles();
    for (auto path = paths.crbegin(); path != paths.crend(); ++path) {
        if (::unlink(path->constData()) != 0 && errno == EISDIR)
            ::rmdir(path->constData());
    }
    scratchFiles().clear();
}

void closeSoon(int descriptor)
{
    if (descriptor < 0)
        return;
    try {
        std::thread([descriptor] { ::close(descriptor); }).detach();
    } catch (const std::system_error&) {
        ::close(descriptor);   // no thread to be had: wait here
    }
}

int holdOpen(const QByteArray& nativePath)
{
    return ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

void removeSoon(const QByteArray& nativePath, int held)
{
    ::unlink(nativePath.constData());
    release(nativePath);
    closeSoon(held);
}

} // namespace ScratchFiles
