#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The platform store beneath KeychainStore: generic-password items addressed by a service and
// an account name, every operation answering with a signed status code.
namespace KeychainStatus {
inline constexpr int success = 0;
inline constexpr int itemNotFound = -25300;
inline constexpr int duplicateItem = -25299;
inline constexpr int notAvailable = -25291;   // no keychain (Secret Service) reachable
inline constexpr int authFailed = -25293;     // the keychain is locked and cannot be unlocked here
inline constexpr int userCanceled = -128;
}

// One item's address.
struct KeychainItemQuery {
    QString service;
    QString account;
};

// How the item's bytes are labelled in the store (text shows as text in keyring tools).
enum class KeychainContent { text, binary };

struct KeychainReadResult {
    int status = KeychainStatus::success;
    QByteArray data;   // the item's bytes when status is success
};

class KeychainBackend {
public:
    virtual ~KeychainBackend() = default;

    // Reads the bytes of the one item at the query.
    virtual KeychainReadResult copyMatching(const KeychainItemQuery& query) = 0;
    // Stores a new item. Never overwrites: an existing item gives duplicateItem and stays as it is,
    // also when another thread or process adds the same item at the same moment.
    virtual int add(const KeychainItemQuery& query, const QByteArray& data, KeychainContent content) = 0;
    // Stores the item, replacing any item at the query in one step (there is no moment without one).
    virtual int replace(const KeychainItemQuery& query, const QByteArray& data, KeychainContent content) = 0;
    // Removes the item; itemNotFound when there was none.
    virtual int remove(const KeychainItemQuery& query) = 0;
};

// The user's keychain as seen by the Secret Service (items with attributes service and account).
std::shared_ptr<KeychainBackend> makeSecretServiceKeychainBackend();
// A process-local store for tests.
std::shared_ptr<KeychainBackend> makeInMemoryKeychainBackend();
