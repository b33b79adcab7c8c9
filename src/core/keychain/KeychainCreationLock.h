#pragma once

#include <QLockFile>
#include <memory>
#include <mutex>

// Serialises "create the item unless it exists" across the threads of this process and across
// processes of this user (a lock file in the user's runtime or cache folder), because the Secret Service itself
// only knows storing that replaces.
class KeychainCreationLock {
public:
    KeychainCreationLock();
    ~KeychainCreationLock();
    KeychainCreationLock(const KeychainCreationLock&) = delete;
    KeychainCreationLock& operator=(const KeychainCreationLock&) = delete;

    // False when the lock could not be taken within a few seconds.
    bool isLocked() const { return m_locked; }

private:
    std::unique_lock<std::mutex> m_threadLock;
    std::unique_ptr<QLockFile> m_fileLock;
    bool m_locked = false;
};
