// Checks run when the window opens: the keyring, where the user can act on it (also before the
// save panel of a local operation), and the bridge's health in local mode too.
#include "KorvoStore.h"

#include <QPointer>

void KorvoStore::setKeyringProblem(const QString& problem)
{
    if (problem == m_keyringProblem)
        return;
    m_keyringProblem = problem;
    emit keyringProblemChanged();
}

QCoro::Task<> KorvoStore::checkKeyringTask()
{
    // Reading the local key's item unlocks nothing and creates nothing; a missing item is fine.
    // The check runs unawaited when the window is activated: the store may be gone by its answer.
    const QPointer<KorvoStore> self(this);
    QCoro::Task<int> asking = m_keychain->localKeyStatus();
    const int status = co_await asking;
    if (!self)
        co_return;
    const bool answers = status == KeychainStatus::success || status == KeychainStatus::itemNotFound;
    const QString earlierProblem = m_keyringProblem;
    setKeyringProblem(answers ? QString() : KeychainStoreError::unexpectedStatus(status).message());
    // Local mode's line must not claim to be ready when the keyring cannot give the key; once the
    // keyring answers again (checked anew when the window is activated), the line it replaced
    // comes back.
    if (!answers && m_accessMode == AppAccessMode::Local && !m_isBusy) {
        if (m_statusMessage != m_keyringProblem)
            m_statusBeforeKeyringProblem = m_statusMessage;
        setStatusMessage(m_keyringProblem, false);
    } else if (answers && !earlierProblem.isEmpty() && m_statusMessage == earlierProblem && !m_isBusy) {
        setStatusMessage(m_statusBeforeKeyringProblem);
    }
}

QCoro::Task<QByteArray> KorvoStore::localKey(WorkMode mode)
{
    QCoro::Task<QByteArray> fetching = m_keychain->localProtectionKey(mode == WorkMode::Encrypt);
    QByteArray key;
    try {
        key = co_await fetching;
    } catch (const KeychainStoreError& error) {
        setKeyringProblem(error.message());
        throw;
    }
    setKeyringProblem({});
    co_return key;
}

QCoro::Task<> KorvoStore::checkBridgeTask()
{
    QCoro::Task<> checking = runBridgeCheck();
    co_await checking;
}
