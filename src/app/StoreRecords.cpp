#include "StoreRecords.h"

namespace {
template <typename T>
void insertIfSet(QVariantMap& map, const char* key, const std::optional<T>& value)
{
    if (value)
        map.insert(QLatin1String(key), QVariant::fromValue(*value));
}
} // namespace

namespace StoreRecords {

QVariantList secrets(const std::vector<KorvoSecret>& secrets)
{
    QVariantList list;
    for (const KorvoSecret& secret : secrets) {
        QVariantMap map{{QStringLiteral("secretId"), secret.secretId},
                        {QStringLiteral("ownerPrincipalId"), secret.ownerPrincipalId},
                        {QStringLiteral("clusterId"), secret.clusterId}};
        insertIfSet(map, "delegatePrincipalId", secret.delegatePrincipalId);
        insertIfSet(map, "isSyncing", secret.isSyncing);
        insertIfSet(map, "secretType", secret.secretType);
        insertIfSet(map, "publicKeyCid", secret.publicKeyCid);
        insertIfSet(map, "createdAt", secret.createdAt);
        insertIfSet(map, "updatedAt", secret.updatedAt);
        list.append(map);
    }
    return list;
}

QVariantMap session(const SessionResult& session)
{
    return {{QStringLiteral("principalId"), session.principalId},
            {QStringLiteral("sessionAddress"), session.sessionAddress},
            {QStringLiteral("expiresAt"), session.expiresAt}};
}

QVariantMap usage(const UsageStats& stats)
{
    return {{QStringLiteral("limit"), stats.limit},
            {QStringLiteral("used"), stats.used},
            {QStringLiteral("remaining"), stats.remaining},
            {QStringLiteral("count"), stats.count},
            {QStringLiteral("requestLimit"), stats.requestLimit},
            {QStringLiteral("rateLimit"), stats.rateLimit},
            {QStringLiteral("limitGB"), stats.limitGB},
            {QStringLiteral("usedGB"), stats.usedGB},
            {QStringLiteral("remainingGB"), stats.remainingGB}};
}

QVariantMap dataConsumption(const DataConsumptionResult& record)
{
    return {{QStringLiteral("userId"), record.userId},
            {QStringLiteral("userType"), record.userType},
            {QStringLiteral("planId"), record.planId},
            {QStringLiteral("cycleType"), record.cycleType},
            {QStringLiteral("periodStart"), record.periodStart.date},
            {QStringLiteral("periodEnd"), record.periodEnd.date},
            {QStringLiteral("encryption"), usage(record.encryption)},
            {QStringLiteral("decryption"), usage(record.decryption)}};
}

} // namespace StoreRecords
