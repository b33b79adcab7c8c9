#pragma once

#include "core/flows/AccountServices.h"

// This period's usage figures of the signed-in account.
class UsageFlow {
public:
    explicit UsageFlow(AccountServices services) : m_services(std::move(services)) {}

    QCoro::Task<DataConsumptionResult> fetch(AccountIdentity identity) const
    {
        QCoro::Task<DataConsumptionResult> fetching =
            m_services.run<DataConsumptionResult>(m_services.request(QStringLiteral("dataConsumption"), identity));
        co_return co_await fetching;
    }

private:
    AccountServices m_services;
};
