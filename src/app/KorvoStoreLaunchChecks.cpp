// Checks run when the window opens: the keyring, where the user can act on it (also before the
// save panel of a local operation), and the bridge's health in local mode too.
#include "KorvoStore.h"

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
    QCoro::Task<int> asking = m_keychain->localKeyStatus();
    const int status = co_await asking;
    const bool answers = status == KeychainStatus::success || status == KeychainStatus::itemNotFound;
    setKeyringProblem(answers ? QString() : KeychainStoreError::unexpectedStatus(status).message());
    // Local mode's line must not claim to be ready when the keyring cannot give the key.
    if (!answers && m_accessMode == AppAccessMode::Local && !m_isBusy)
        setStatusMessage(m_keyringProblem);
}

QCoro::Task<QByteArray> KorvoStore::localKey()
{
    QCoro::Task<QByteArray> fetching = m_keychain->localProtectionKey();
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
