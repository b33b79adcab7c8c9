#include "core/KeychainQueue.h"

#include "core/LocalFileProtectionService.h"

KeychainQueue::KeychainQueue(std::shared_ptr<KeychainBackend> backend)
    : m_backend(std::move(backend))
    , m_store(m_backend)
{
}

QCoro::Task<AccountIdentity> KeychainQueue::loadIdentity()
{
    const KeychainStore store = m_store;
    QCoro::Task<AccountIdentity> loading = m_queue.run([store] { return store.load(); });
    co_return co_await loading;
}

QCoro::Task<> KeychainQueue::saveIdentity(AccountIdentity identity)
{
    const KeychainStore store = m_store;
    QCoro::Task<> saving = m_queue.run([store, identity] { store.save(identity); });
    co_await saving;
}

QCoro::Task<bool> KeychainQueue::deleteIdentity()
{
    const KeychainStore store = m_store;
    QCoro::Task<bool> deleting = m_queue.run([store] { return store.deleteIdentity(); });
    co_return co_await deleting;
}

QCoro::Task<QByteArray> KeychainQueue::localProtectionKey(bool sealing)
{
    const KeychainStore store = m_store;
    QCoro::Task<QByteArray> loading =
        m_queue.run([store, sealing] { return LocalFileProtectionService::localKey(store, sealing); });
    co_return co_await loading;
}

QCoro::Task<int> KeychainQueue::localKeyStatus()
{
    const std::shared_ptr<KeychainBackend> backend = m_backend;
    QCoro::Task<int> asking = m_queue.run([backend] {
        return backend
            ->copyMatching({QString::fromLatin1(KeychainStore::service),
                            QString::fromLatin1(KeychainStore::localProtectionAccount)})
            .status;
    });
    co_return co_await asking;
}
