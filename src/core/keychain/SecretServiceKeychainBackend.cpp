#include "core/keychain/SecretServiceSession.h"   // first: GLib before Qt

#include "core/keychain/KeychainBackend.h"
#include "core/keychain/KeychainCreationLock.h"

#include <algorithm>
#include <vector>

namespace {

using namespace SecretServiceSession;

const char* const binaryContentType = "application/octet-stream";
const char* const textContentType = "text/plain";

// Items are matched by service and account alone, so items written by other tools (secret-tool)
// with the same attributes are found too.
const SecretSchema* genericPasswordSchema()
{
    static const SecretSchema schema = {
        "com.korvo.security.macos.GenericPassword",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

// The attribute table of a query; owns its strings.
class Attributes {
public:
    explicit Attributes(const KeychainItemQuery& query)
        : m_table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free))
    {
        g_hash_table_insert(m_table, g_strdup("service"), g_strdup(query.service.toUtf8().constData()));
        g_hash_table_insert(m_table, g_strdup("account"), g_strdup(query.account.toUtf8().constData()));
    }
    ~Attributes() { g_hash_table_unref(m_table); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    GHashTable* table() const { return m_table; }

private:
    GHashTable* m_table;
};

// The items matching a query, unlocked ones first, then oldest first: when duplicates exist
// (written by other tools), the item that has been there longest is the one that counts.
class MatchingItems {
public:
    ~MatchingItems() { g_list_free_full(m_list, g_object_unref); }
    int search(SecretService* service, const KeychainItemQuery& query, SecretSearchFlags flags, const Deadline& deadline)
    {
        GError* error = nullptr;
        const Attributes attributes(query);
        m_list = secret_service_search_sync(service, genericPasswordSchema(), attributes.table(),
                                            SecretSearchFlags(SECRET_SEARCH_ALL | flags), deadline.cancellable(),
                                            &error);
        if (error)
            return statusFor(error, deadline);
        for (GList* node = m_list; node; node = node->next)
            m_items.push_back(SECRET_ITEM(node->data));
        std::stable_sort(m_items.begin(), m_items.end(), [](SecretItem* a, SecretItem* b) {
            const bool aLocked = secret_item_get_locked(a), bLocked = secret_item_get_locked(b);
            if (aLocked != bLocked)
                return !aLocked;
            return secret_item_get_created(a) < secret_item_get_created(b);
        });
        return KeychainStatus::success;
    }
    const std::vector<SecretItem*>& items() const { return m_items; }

private:
    GList* m_list = nullptr;
    std::vector<SecretItem*> m_items;
};

// The default collection, ready to take an item without asking the user anything: a locked
// collection cannot be unlocked without a prompt, so it reports authFailed instead.
int writableDefaultCollection(SecretService* service, const Deadline& deadline, SecretCollection** collection)
{
    GError* error = nullptr;
    *collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                                   deadline.cancellable(), &error);
    if (error)
        return statusFor(error, deadline);
    if (!*collection)
        return KeychainStatus::notAvailable;
    if (secret_collection_get_locked(*collection)) {
        g_clear_object(collection);
        return KeychainStatus::authFailed;
    }
    return KeychainStatus::success;
}

// Creates the item in the default collection; *created (when given) receives its object path.
int createItem(SecretService* service, const KeychainItemQuery& query, const QByteArray& data,
               KeychainContent content, SecretItemCreateFlags flags, const Deadline& deadline,
               QByteArray* created = nullptr)
{
    SecretCollection* collection = nullptr;
    const int status = writableDefaultCollection(service, deadline, &collection);
    if (status != KeychainStatus::success)
        return status;
    const Attributes attributes(query);
    const QByteArray label = (query.service + QLatin1Char(' ') + query.account).toUtf8();
    SecretValue* value = secret_value_new(data.constData(), data.size(),
                                          content == KeychainContent::text ? textContentType : binaryContentType);
    GError* error = nullptr;
    SecretItem* item = secret_item_create_sync(collection, genericPasswordSchema(), attributes.table(),
                                               label.constData(), value, flags, deadline.cancellable(), &error);
    secret_value_unref(value);
    g_object_unref(collection);
    if (!item)
        return statusFor(error, deadline);
    if (created)
        *created = g_dbus_proxy_get_object_path(G_DBUS_PROXY(item));
    g_object_unref(item);
    return KeychainStatus::success;
}

int deleteItem(SecretItem* item, const Deadline& deadline)
{
    if (secret_item_get_locked(item))
        return KeychainStatus::authFailed;
    GError* error = nullptr;
    return secret_item_delete_sync(item, deadline.cancellable(), &error) ? KeychainStatus::success
                                                                          : statusFor(error, deadline);
}

// One operation's connection to the Secret Service under one deadline, released when it ends.
class Connection {
public:
    Connection() : m_service(connect(m_deadline, &m_status)) {}
    ~Connection()
    {
        if (m_service)
            g_object_unref(m_service);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    SecretService* service() const { return m_service; }
    // Why there is no service, when there is none.
    int status() const { return m_status; }
    const Deadline& deadline() const { return m_deadline; }

private:
    const Deadline m_deadline{operationTimeout};
    int m_status = KeychainStatus::success;
    SecretService* m_service;
};

class SecretServiceKeychainBackend final : public KeychainBackend {
public:
    KeychainReadResult copyMatching(const KeychainItemQuery& query) override
    {
        const Connection connection;
        if (!connection.service())
            return {connection.status(), {}};
        MatchingItems matches;
        const int status = matches.search(connection.service(), query, SECRET_SEARCH_LOAD_SECRETS, connection.deadline());
        if (status != KeychainStatus::success)
            return {status, {}};
        if (matches.items().empty())
            return {KeychainStatus::itemNotFound, {}};
        SecretValue* value = secret_item_get_secret(matches.items().front());
        if (!value)   // only locked items matched: reading them would need a prompt
            return {KeychainStatus::authFailed, {}};
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        KeychainReadResult result{KeychainStatus::success, QByteArray(bytes, qsizetype(length))};
        secret_value_unref(value);
        return result;
    }

    int add(const KeychainItemQuery& query, const QByteArray& data, KeychainContent content) override
    {
        const KeychainCreationLock lock;
        if (!lock.isLocked())
            return KeychainStatus::notAvailable;
        const Connection connection;
        if (!connection.service())
            return connection.status();
        MatchingItems matches;
        const int status = matches.search(connection.service(), query, SECRET_SEARCH_NONE, connection.deadline());
        if (status != KeychainStatus::success)
            return status;
        return matches.items().empty() ? createItem(connection.service(), query, data, content,
                                                    SECRET_ITEM_CREATE_NONE, connection.deadline())
                                       : KeychainStatus::duplicateItem;
    }

    int replace(const KeychainItemQuery& query, const QByteArray& data, KeychainContent content) override
    {
        const Connection connection;
        if (!connection.service())
            return connection.status();
        QByteArray created;
        const int status = createItem(connection.service(), query, data, content, SECRET_ITEM_CREATE_REPLACE,
                                      connection.deadline(), &created);
        if (status != KeychainStatus::success)
            return status;
        // The store replaces only an item in the same collection with the same schema; older copies
        // elsewhere would be read instead of the new one, so they go once the new item is in place.
        // The new item is stored whatever happens here: a copy that cannot go now (in a locked
        // collection) is tried again at the next replace.
        MatchingItems matches;
        if (matches.search(connection.service(), query, SECRET_SEARCH_NONE, connection.deadline()) == KeychainStatus::success) {
            for (SecretItem* item : matches.items()) {
                if (created != g_dbus_proxy_get_object_path(G_DBUS_PROXY(item)))
                    deleteItem(item, connection.deadline());
            }
        }
        return KeychainStatus::success;
    }

    int remove(const KeychainItemQuery& query) override
    {
        const Connection connection;
        if (!connection.service())
            return connection.status();
        MatchingItems matches;
        const int status = matches.search(connection.service(), query, SECRET_SEARCH_NONE, connection.deadline());
        if (status != KeychainStatus::success)
            return status;
        if (matches.items().empty())
            return KeychainStatus::itemNotFound;
        for (SecretItem* item : matches.items()) {
            if (const int deleted = deleteItem(item, connection.deadline()); deleted != KeychainStatus::success)
                return deleted;
        }
        return KeychainStatus::success;
    }
};

} // namespace

std::shared_ptr<KeychainBackend> makeSecretServiceKeychainBackend()
{
    return std::make_shared<SecretServiceKeychainBackend>();
}
