#include "core/flows/KorvosFlow.h"

#include <algorithm>

KorvosFlow::KorvosFlow(AccountServices services)
    : m_services(std::move(services))
{
}

QCoro::Task<std::vector<KorvoSecret>> KorvosFlow::list(AccountIdentity identity) const
{
    QCoro::Task<SecretListResult> listing =
        m_services.run<SecretListResult>(m_services.request(QStringLiteral("listSecrets"), identity));
    const SecretListResult list = co_await listing;
    co_return list.secrets;
}

QCoro::Task<KorvosFlow::Listed> KorvosFlow::refresh(AccountIdentity identity, std::optional<qint64> selected,
                                                    bool createIfEmpty) const
{
    QCoro::Task<std::vector<KorvoSecret>> listing = list(identity);
    std::vector<KorvoSecret> secrets = co_await listing;
    if (secrets.empty() && createIfEmpty) {
        QCoro::Task<qint64> creating = create(identity);
        const qint64 created = co_await creating;
        QCoro::Task<std::vector<KorvoSecret>> relisting = list(identity);
        std::vector<KorvoSecret> fresh = co_await relisting;
        co_return Listed{std::move(fresh), created};
    }

    const auto listed = [&](const KorvoSecret& secret) { return secret.secretId == selected; };
    if ((selected && std::any_of(secrets.begin(), secrets.end(), listed)) || secrets.empty())
        co_return Listed{std::move(secrets), std::nullopt};
    const auto settled = std::find_if(secrets.begin(), secrets.end(),
                                      [](const KorvoSecret& s) { return s.isSyncing.value_or(0) == 0; });
    const qint64 chosen = settled != secrets.end() ? settled->secretId : secrets.front().secretId;
    co_return Listed{std::move(secrets), chosen};
}

QCoro::Task<qint64> KorvosFlow::create(AccountIdentity identity) const
{
    QCoro::Task<CreateSecretResult> creating =
        m_services.run<CreateSecretResult>(m_services.request(QStringLiteral("createSecret"), identity));
    const CreateSecretResult created = co_await creating;
    co_return created.secretId;
}

QCoro::Task<AccountIdentity> KorvosFlow::saveSelection(AccountIdentity identity, qint64 secretId) const
{
    identity.selectedSecretId = secretId;
    QCoro::Task<> saving = m_services.keychain->saveIdentity(identity);
    co_await saving;
    co_return identity;
}
