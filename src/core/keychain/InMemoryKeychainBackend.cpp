#include "core/keychain/KeychainBackend.h"

#include <QHash>
#include <QPair>

#include <mutex>

namespace {

// A keychain that lives as long as the object: for tests and tools that must not touch the
// user's keychain. Thread-safe, with the same add/replace semantics as the real one.
class InMemoryKeychainBackend final : public KeychainBackend {
public:
    KeychainReadResult copyMatching(const KeychainItemQuery& query) override
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_items.constFind(key(query));
        if (it == m_items.constEnd())
            return {KeychainStatus::itemNotFound, {}};
        return {KeychainStatus::success, *it};
    }

    int add(const KeychainItemQuery& query, const QByteArray& data, KeychainContent) override
    {
        std::lock_guard lock(m_mutex);
        if (m_items.contains(key(query)))
            return KeychainStatus::duplicateItem;
        m_items.insert(key(query), data);
        return KeychainStatus::success;
    }

    int replace(const KeychainItemQuery& query, const QByteArray& data, KeychainContent) override
    {
        std::lock_guard lock(m_mutex);
        m_items.insert(key(query), data);
        return KeychainStatus::success;
    }

    int remove(const KeychainItemQuery& query) override
    {
        std::lock_guard lock(m_mutex);
        return m_items.remove(key(query)) > 0 ? KeychainStatus::success : KeychainStatus::itemNotFound;
    }

private:
    static QPair<QString, QString> key(const KeychainItemQuery& query) { return {query.service, query.account}; }

    std::mutex m_mutex;
    QHash<QPair<QString, QString>, QByteArray> m_items;
};

} // namespace

std::shared_ptr<KeychainBackend> makeInMemoryKeychainBackend()
{
    return std::make_shared<InMemoryKeychainBackend>();
}
