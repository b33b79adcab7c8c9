#pragma once

#include "core/bridge/BridgeResults.h"

#include <QVariantList>
#include <QVariantMap>

#include <vector>

// The bridge's result records in the shapes the views read (see KorvoStore.h): absent
// optional fields are left out of the maps.
namespace StoreRecords {
QVariantList secrets(const std::vector<KorvoSecret>& secrets);
QVariantMap session(const SessionResult& session);
QVariantMap usage(const UsageStats& stats);
QVariantMap dataConsumption(const DataConsumptionResult& record);
} // namespace StoreRecords
