#include "core/flows/FlowError.h"

#include "core/PlatformWording.h"

namespace {
const QString serviceUnavailable = QStringLiteral("Korvo is temporarily unavailable. Check your connection and try again.");
const QString restorePrivateAccess = platformText(QStringLiteral("This Mac needs to restore private access. Sign in again to continue."));
} // namespace

QString accountFailureSentence(const QString& description)
{
    if (description == QLatin1String("fetch failed")
        || description.contains(QLatin1String("ECONNREFUSED"), Qt::CaseInsensitive))
        return serviceUnavailable;
    if (description.contains(QLatin1String("ed25519PrivateKeyHex"), Qt::CaseInsensitive))
        return restorePrivateAccess;
    return description;
}
