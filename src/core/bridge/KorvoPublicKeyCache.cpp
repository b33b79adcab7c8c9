#include "core/bridge/KorvoPublicKeyCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSaveFile>

#include <nlohmann/json.hpp>
#include <qcoro/qcorosignal.h>

namespace {

const QString kEmptyPublicKey = QStringLiteral("Korvo returned an empty protection key.");
const char* const kValuesKey = "values";

} // namespace

// One fetch under way, awaited by every look-up of its key.
class PublicKeyFlight : public QObject {
    Q_OBJECT
public:
    bool done = false;
    QString value;
    std::exception_ptr error;

Q_SIGNALS:
    void finished();
};

KorvoPublicKeyCache::CacheError KorvoPublicKeyCache::CacheError::emptyPublicKey()
{
    return CacheError(Kind::emptyPublicKey, kEmptyPublicKey);
}

KorvoPublicKeyCache::KorvoPublicKeyCache(const AppPaths& paths)
    : m_filePath(QDir(paths.dataDirectory()).filePath(QString::fromLatin1(fileName)))
{
}

KorvoPublicKeyCache::~KorvoPublicKeyCache() = default;

KorvoPublicKeyCache& KorvoPublicKeyCache::shared()
{
    // Lives for the whole run; never destroyed, so fetches still in flight at exit are safe.
    static KorvoPublicKeyCache* const instance = new KorvoPublicKeyCache(AppPaths::standard());
    return *instance;
}

QString KorvoPublicKeyCache::cacheKey(const QString& blackboxURL, qint64 korvoID)
{
    qsizetype begin = 0;
    qsizetype end = blackboxURL.size();
    while (begin < end && blackboxURL.at(begin) == u'/')
        ++begin;
    while (end > begin && blackboxURL.at(end - 1) == u'/')
        --end;
    return blackboxURL.mid(begin, end - begin) + u'|' + QString::number(korvoID);
}

QCoro::Task<QString> KorvoPublicKeyCache::publicKey(QString blackboxURL, qint64 korvoID, Fetch fetch)
{
    loadOnce();
    const QString key = cacheKey(blackboxURL, korvoID);
    if (const auto known = m_values.find(key); known != m_values.end())
        co_return known->second;

    std::shared_ptr<PublicKeyFlight> flight;
    if (const auto running = m_inFlight.find(key); running != m_inFlight.end()) {
        flight = running->second;
    } else {
        flight = std::make_shared<PublicKeyFlight>();
        m_inFlight.emplace(key, flight);
        fly(flight, std::move(fetch));
    }
    while (!flight->done) {
        auto finished = qCoro(flight.get(), &PublicKeyFlight::finished);
        co_await finished;
    }

    // Only this look-up's own flight is forgotten; a newer one for the same key stays.
    const auto forget = [&] {
        if (const auto running = m_inFlight.find(key); running != m_inFlight.end() && running->second == flight)
            m_inFlight.erase(running);
    };
    if (flight->error) {
        forget();
        std::rethrow_exception(flight->error);
    }
    const QString trimmed = flight->value.trimmed();
    if (trimmed.isEmpty()) {
        forget();
        throw CacheError::emptyPublicKey();
    }
    m_values[key] = trimmed;
    forget();
    persist();
    co_return trimmed;
}

QCoro::Task<> KorvoPublicKeyCache::fly(std::shared_ptr<PublicKeyFlight> flight, Fetch fetch)
{
    try {
        auto fetched = fetch();
        flight->value = co_await std::move(fetched);
    } catch (...) {
        flight->error = std::current_exception();
    }
    flight->done = true;
    Q_EMIT flight->finished();
}

void KorvoPublicKeyCache::loadOnce()
{
    if (m_hasLoaded)
        return;
    m_hasLoaded = true;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    try {
        const nlohmann::json document = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd());
        if (!document.is_object() || !document.contains(kValuesKey) || !document[kValuesKey].is_object())
            return;
        std::map<QString, QString> values;
        for (const auto& [cacheKey, publicKey] : document[kValuesKey].items())
            values[QString::fromStdString(cacheKey)] = QString::fromStdString(publicKey.get<std::string>());
        m_values = std::move(values);
    } catch (const nlohmann::json::exception&) {
        // A damaged file is ignored; the next successful fetch replaces it.
    }
}

void KorvoPublicKeyCache::persist() const
{
    // A failure to save is dropped: the key stays known for the rest of the run.
    if (!QDir().mkpath(QFileInfo(m_filePath).absolutePath()))
        return;
    nlohmann::json values = nlohmann::json::object();
    for (const auto& [cacheKey, publicKey] : m_values)
        values[cacheKey.toStdString()] = publicKey.toStdString();
    const nlohmann::json document = {{kValuesKey, values}};
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QByteArray::fromStdString(document.dump()));
    file.commit();
}

#include "KorvoPublicKeyCache.moc"
