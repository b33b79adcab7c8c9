// The operation runner: every long user action passes through perform().
#include "KorvoStore.h"
#include "core/flows/FlowError.h"
#include "core/Cancellation.h"

namespace {
const QString cancelled = QStringLiteral("Cancelled.");
}

QString KorvoStore::userFacingSentence(const QString& description)
{
    return accountFailureSentence(description);
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
        // Every flow and engine error is one of these, the ZIP writer's included (BundleError).
        description = error.message();
    } catch (const std::exception& error) {
        // Only what no flow raises itself (memory, threads) arrives here.
        description = QString::fromUtf8(error.what());
    }
    setErrorMessage(userFacingSentence(description));
    setBusy(--m_activeRuns > 0);
    co_return false;
}
