#pragma once

#include "core/AppPaths.h"
#include "core/KorvoError.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <map>
#include <memory>

class PublicKeyFlight;

// Remembers the public protection keys of recipients' Korvos, keeps them in
// "public-keys.json" in the data folder so they survive restarts, and lets simultaneous
// look-ups of one key share a single fetch. It knows nothing of the bridge: the caller hands
// it the fetch to use on a miss.
//
// Lives on the GUI thread; every member is touched there only, so no lock is needed. While a
// fetch runs the cache keeps serving other look-ups.
class KorvoPublicKeyCache {
public:
    class CacheError : public KorvoError {
    public:
        enum class Kind { emptyPublicKey };
        static CacheError emptyPublicKey();
        Kind kind() const noexcept { return m_kind; }

    private:
        CacheError(Kind kind, QString message) : KorvoError(std::move(message)), m_kind(kind) {}
        Kind m_kind;
    };

    using Fetch = std::function<QCoro::Task<QString>()>;

    static constexpr const char* fileName = "public-keys.json";

    explicit KorvoPublicKeyCache(const AppPaths& paths);
    ~KorvoPublicKeyCache();
    KorvoPublicKeyCache(const KorvoPublicKeyCache&) = delete;
    KorvoPublicKeyCache& operator=(const KorvoPublicKeyCache&) = delete;

    // The application's one instance, created on first use in the user's data folder.
    static KorvoPublicKeyCache& shared();

    // The public key of Korvo `korvoID` at the service `blackboxURL`: from memory or the file
    // when known, otherwise from `fetch` (shared with any look-up of the same key already
    // waiting). Throws the fetch's error, or CacheError when the fetched key is blank.
    QCoro::Task<QString> publicKey(QString blackboxURL, qint64 korvoID, Fetch fetch);

    // The service address without leading and trailing "/", then "|", then the number.
    static QString cacheKey(const QString& blackboxURL, qint64 korvoID);

    const QString& filePath() const { return m_filePath; }

private:
    void loadOnce();
    void persist() const;
    static QCoro::Task<> fly(std::shared_ptr<PublicKeyFlight> flight, Fetch fetch);

    QString m_filePath;
    std::map<QString, QString> m_values;
    std::map<QString, std::shared_ptr<PublicKeyFlight>> m_inFlight;
    bool m_hasLoaded = false;
};
