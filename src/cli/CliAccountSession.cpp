#include "cli/CliAccountSession.h"

#include "cli/CliCommands.h"
#include "cli/Interruption.h"
#include "core/bridge/KorvoPublicKeyCache.h"
#include "core/Cancellation.h"
#include "core/threads/FileWorkQueue.h"

#include <QEventLoop>
#include <QTimer>

namespace {
const QString notSignedIn = QStringLiteral("not signed in; sign in with korvo-cli sign-in EMAIL (sign up in the Korvo application)");

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "korvo-cli";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}
} // namespace

CliAccountSession::CliAccountSession()
    : m_fileQueue(std::make_shared<FileWorkQueue>())
{
    application();
    Interruption::allowChildrenToEnd();
    m_services.bridge = std::make_shared<BridgeRunner>();
    m_services.keychain = std::make_shared<KeychainQueue>(makeSecretServiceKeychainBackend());
    // The application's cache file; never deleted (it lives as long as the process).
    m_services.publicKeys = std::shared_ptr<KorvoPublicKeyCache>(&KorvoPublicKeyCache::shared(), [](KorvoPublicKeyCache*) {});
}

CliAccountSession::~CliAccountSession()
{
    m_services.bridge->terminateChildren();
}

void CliAccountSession::runLoop(QCoro::Task<> task, std::function<void()> tick)
{
    QEventLoop loop;
    bool finished = false;
    [](QCoro::Task<> running, bool& ended, QEventLoop& waiting) -> QCoro::Task<> {
        co_await running;
        ended = true;
        waiting.quit();
    }(std::move(task), finished, loop);
    // Ctrl-C: the cancellation flag stops the engine's work; the bridge's children are ended
    // here, and each removes its unfinished output.
    const std::shared_ptr<BridgeRunner> bridge = m_services.bridge;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, [&, bridge] {
        if (Interruption::cancellation().requested())
            bridge->terminateChildren();
        if (tick)
            tick();
    });
    watch.start(20);
    if (!finished)
        loop.exec();
}

std::optional<AccountIdentity> CliAccountSession::savedIdentity()
{
    try {
        return wait(m_services.keychain->loadIdentity());
    } catch (const KeychainStoreError& error) {
        if (error.kind() == KeychainStoreError::Kind::itemNotFound)
            return std::nullopt;
        throw;
    }
}

AccountIdentity CliAccountSession::signedInIdentity()
{
    const std::optional<AccountIdentity> identity = savedIdentity();
    if (!identity)
        throw CliError(notSignedIn);
    return *identity;
}
