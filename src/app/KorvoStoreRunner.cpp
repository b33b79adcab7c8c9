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

QCoro::Task<bool> KorvoStore::perform(QString busyMessage, Operation operation, bool jobCancelsItself)
{
    // Runs may overlap (an operation started while another waits for the bridge): the store
    // stays busy until the last one has ended, not the first.
    ++m_activeRuns;
    setBusy(true);
    setErrorMessage({});
    setStatusMessage(busyMessage, false);
    // A request to the service is ended by Escape or Cancel as a file job is: the overlay offers
    // Cancel (no figures), and cancelling ends the bridge child it waits on.
    std::shared_ptr<Cancellation> cancel;
    if (!jobCancelsItself && !m_progress.cancellation()) {
        cancel = m_progress.begin();
        const std::shared_ptr<BridgeRunner> bridge = m_deps.bridge;
        m_progress.setStage([](qint64& done, qint64& total) { done = total = 0; },
                            [bridge] { bridge->terminateChildren(); });
    }
    const auto finish = [this, &cancel](bool succeeded) {
        if (cancel)
            m_progress.end();
        // A line the operation set reports its result; the busy line left in place does not.
        if (!succeeded)
            setStatusMessage(m_statusMessage, false);
        setBusy(--m_activeRuns > 0);
        return succeeded;
    };
    QString description;
    try {
        QCoro::Task<> running = operation();
        co_await running;
        co_return finish(true);
    } catch (const OperationCancelled&) {
        description.clear();
    } catch (const KorvoError& error) {
        // Every flow and engine error is one of these, the ZIP writer's included (BundleError).
        description = error.message();
    } catch (const std::exception& error) {
        // Only what no flow raises itself (memory, threads) arrives here.
        description = QString::fromUtf8(error.what());
    }
    // The user stopped it (a request whose child was ended fails as a process): no alert, the
    // line says so.
    if (description.isEmpty() || (cancel && cancel->requested())) {
        setStatusMessage(cancelled, false);
        co_return finish(false);
    }
    setErrorMessage(userFacingSentence(description));
    co_return finish(false);
}
