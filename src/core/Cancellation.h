#pragma once

#include "core/KorvoError.h"

#include <atomic>

// A request to stop a running operation, set from any thread (a cancel button, a signal
// watcher). Bundling, sealing and opening look at it between steps of at most about a megabyte
// and then stop with OperationCancelled, removing every file they had started.
class Cancellation {
public:
    void request() noexcept { m_requested.store(true, std::memory_order_relaxed); }
    bool requested() const noexcept { return m_requested.load(std::memory_order_relaxed); }
    // Throws OperationCancelled once a stop was requested.
    void throwIfRequested() const;
    // The flag itself, for the ZIP writer, which knows nothing of Qt.
    const std::atomic<bool>* flag() const noexcept { return &m_requested; }

private:
    std::atomic<bool> m_requested{false};
};

class OperationCancelled : public KorvoError {
public:
    OperationCancelled();
};

// Files that hold partial or plain data only while an operation runs (a bundle, an output not
// yet renamed into place), and the folders made for them. Each is listed from creation until it
// is removed or renamed, so that a process that has to end at once can still remove them all.
// Safe from any thread.
namespace ScratchFiles {

void track(const QByteArray& nativePath);
void release(const QByteArray& nativePath);
// Removes every listed file; for a process about to end.
void removeAll();
// Closes a descriptor on a thread of its own, for a scratch file whose name is gone: its last
// descriptor gives back its blocks when it closes, and for a large file with writes still on
// their way to the device the kernel first waits for those (a tenth of a second and more here),
// which must not hold up a stop. Nothing for a descriptor below 0.
void closeSoon(int descriptor);
// Opens a scratch file once more, so that closing its writer's descriptor does not wait for its
// blocks either; -1 when it cannot be opened.
int holdOpen(const QByteArray& nativePath);
// Removes a scratch file's name at once and stops listing it; its blocks are given back when
// `held` (from holdOpen, or -1) closes on a thread of its own.
void removeSoon(const QByteArray& nativePath, int held);

} // namespace ScratchFiles
