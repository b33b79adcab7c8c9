// Deleting the online account (DeletionFlow) and what this computer keeps of it afterwards.
#include "KorvoStore.h"
#include "core/PlatformWording.h"
#include "core/flows/DeletionFlow.h"

namespace {
const QString sendingConfirmationBusy = QStringLiteral("Sending confirmation code...");
const QString deletingAccountBusy = QStringLiteral("Deleting your account...");
const QString signInBeforeDeleting = QStringLiteral("Sign in before deleting your account.");
const QString cleanupIncomplete = platformText(
    QStringLiteral("Your account was deleted, but this Mac could not remove all saved sign-in data."));
} // namespace

QCoro::QmlTask KorvoStore::requestAccountDeletion(const QString& password) { return requestAccountDeletionTask(password); }
QCoro::QmlTask KorvoStore::confirmAccountDeletion(const QString& otp) { return confirmAccountDeletionTask(otp); }

QCoro::Task<bool> KorvoStore::requestAccountDeletionTask(QString password)
{
    QCoro::Task<bool> running = perform(sendingConfirmationBusy, [this, password]() -> QCoro::Task<> {
        if (!m_identity)
            throw StoreError::message(signInBeforeDeleting);
        const DeletionFlow flow(services());
        QCoro::Task<QString> requesting = flow.requestCode(*m_identity, password);
        const QString line = co_await requesting;
        setStatusMessage(line);
    });
    co_return co_await running;
}

QCoro::Task<bool> KorvoStore::confirmAccountDeletionTask(QString otp)
{
    QCoro::Task<bool> running = perform(deletingAccountBusy, [this, otp] { return confirmAccountDeletionSteps(otp); });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::confirmAccountDeletionSteps(QString otp)
{
    if (!m_identity)
        throw StoreError::message(signInBeforeDeleting);
    const DeletionFlow flow(services());
    QCoro::Task<QString> confirming = flow.confirm(*m_identity, otp);
    const QString line = co_await confirming;

    QCoro::Task<bool> removing = removeLocalAccountData();
    const bool removedEverything = co_await removing;
    resetSignedInState();
    setIdentity(std::nullopt);
    setRoute(AppRoute::Login);
    setStatusMessage(line);
    if (!removedEverything)
        setErrorMessage(cleanupIncomplete);
}
