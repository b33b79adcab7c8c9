// The operation runner: every long user action passes through perform().
#include "KorvoStore.h"
#include "core/PlatformWording.h"
#include "core/local/Cancellation.h"

namespace {
const QString serviceUnavailable = QStringLiteral("Korvo is temporarily unavailable. Check your connection and try again.");
const QString cancelled = QStringLiteral("Cancelled.");
const QString restorePrivateAccess = platformText(QStringLiteral("This Mac needs to restore private access. Sign in again to continue."));
}

QString KorvoStore::userFacingSentence(const QString& description)
{
    if (description == QLatin1String("fetch failed")
        || description.contains(QLatin1String("ECONNREFUSED"), Qt::CaseInsensitive))
        return serviceUnavailable;
    if (description.contains(QLatin1String("ed25519PrivateKeyHex"), Qt::CaseInsensitive))
        return restorePrivateAccess;
    return description;
}

QCoro::Task<bool> KorvoStore::perform(QString busyMessage, Operation operation)
{
    // Runs may overlap (an operation started while another waits for the bridge): the store
    // stays busy until the last one has ended, not the first.
    ++m_activeRuns;
    setBusy(true);
    setErrorMessage({});
    setStatusMessage(busyMessage);
    QString description;
    try {
        QCoro::Task<> running = operation();
        co_await running;
        setBusy(--m_activeRuns > 0);
        co_return true;
    } catch (const OperationCancelled&) {
        // The user stopped it: no alert, the line says so.
        setStatusMessage(cancelled);
        setBusy(--m_activeRuns > 0);
        co_return false;
    } catch (const KorvoError& error) {
        description = error.message();
    } catch (const std::exception& error) {
        description = QString::fromUtf8(error.what());
    } catch (...) {
        description = QStringLiteral("The operation could not be completed.");
    }
    setErrorMessage(userFacingSentence(description));
    setBusy(--m_activeRuns > 0);
    co_return false;
}
