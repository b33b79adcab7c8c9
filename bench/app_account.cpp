// What the store adds to account commands: each store operation against the same bridge
// commands run bare through the runner, alternately, against the reference service, while a
// timer on the window's thread keeps ticking. Prints medians, the store's added time and the
// largest heartbeat gap.
//   bench_app_account [ROUNDS]   (default 20; BENCH_GAPS=1 names the step of every gap over 40 ms)
#include "ReferenceService.h"
#include "KorvoStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
class NoDialogs : public FileDialogs {
public:
    std::optional<QStringList> chooseFiles(const OpenRequest&) override { return std::nullopt; }
    std::optional<QString> chooseSaveLocation(const QString&, const QString&, const QString&) override { return std::nullopt; }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename T>
T wait(QCoro::Task<T>&& task)
{
    return QCoro::waitFor(std::move(task));
}

// Milliseconds that one run of `work` takes.
double timed(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.nsecsElapsed() / 1e6;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20;

    // The window's thread: a 5 ms tick whose largest gap tells whether anything blocked it.
    qint64 largestGap = 0;
    const char* phase = "start";
    QElapsedTimer sinceTick;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        if (qEnvironmentVariableIsSet("BENCH_GAPS") && gap > 40)
            std::fprintf(stderr, "gap %lld ms in %s\n", static_cast<long long>(gap), phase);
        largestGap = std::max(largestGap, gap);
    });

    ReferenceService service;
    if (service.url().isEmpty()) {
        std::fprintf(stderr, "the reference service did not start\n");
        return 1;
    }
    QTemporaryDir folder;
    BridgeSurroundings surroundings;
    surroundings.environment = service.environment();
    surroundings.workingDirectory = folder.path();
    const auto bridge = std::make_shared<BridgeRunner>(surroundings, service.url());
    KorvoStore store(StoreDependencies{AppPaths(folder.filePath("data")), makeInMemoryKeychainBackend(),
                                       std::make_shared<NoDialogs>(), {}, folder.path(), bridge});
    wait(store.bootstrapTask());
    store.leaveLocalMode();

    const QString email = QStringLiteral("bench@example.com");
    const QString password = QStringLiteral("bench password");
    if (!wait(store.registerAccountTask(email, password))
        || !wait(store.verifyOtpAndFinishTask(email, password, store.routePrincipalId(), service.latestCode(email)))) {
        std::fprintf(stderr, "sign-up failed: %s\n", qPrintable(store.errorMessage()));
        return 1;
    }
    const AccountIdentity identity = *store.identity();
    const auto request = [&](const char* command) {
        BridgeRequest r;
        r.command = QString::fromLatin1(command);
        r.blackboxUrl = bridge->blackboxUrl();
        r.principalId = identity.principalId;
        r.ed25519PrivateKeyHex = identity.ed25519PrivateKeyHex;
        return r;
    };

    // The sign-up above waits for the e-mail on this thread; the figures start here.
    sinceTick.start();
    heartbeat.start(5);
    std::vector<double> listViaStore, listBare, loginViaStore, loginBare;
    // The sign-in's background usage refresh ends before anything else is timed.
    const auto settle = [&] {
        QCoreApplication::processEvents();
        while (store.isDataConsumptionLoading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    };
    const auto bareSignIn = [&] {
        BridgeRequest verify = request("verifyCredentials");
        verify.principalId.reset();
        verify.ed25519PrivateKeyHex.reset();
        verify.email = email;
        verify.password = password;
        wait(bridge->run<VerifyCredentialsResult>(verify));
        wait(bridge->run<SessionResult>(request("createSession")));
        wait(bridge->run<SecretListResult>(request("listSecrets")));
    };
    // Alternate which side goes first, so drift in the machine's load favours neither.
    for (int i = 0; i < rounds; ++i) {
        const auto storeList = [&] { phase = "store list"; listViaStore.push_back(timed([&] { wait(store.refreshSecretsTask()); })); };
        const auto bareList = [&] { phase = "bare list"; listBare.push_back(timed([&] { wait(bridge->run<SecretListResult>(request("listSecrets"))); })); };
        const auto storeLogin = [&] {
            phase = "store login";
            loginViaStore.push_back(timed([&] { wait(store.loginTask(email, password)); }));
            settle();
        };
        const auto bareLogin = [&] { phase = "bare login"; loginBare.push_back(timed(bareSignIn)); };
        if (i % 2) {
            bareList(), storeList(), bareLogin(), storeLogin();
        } else {
            storeList(), bareList(), storeLogin(), bareLogin();
        }
    }
    heartbeat.stop();

    const auto report = [](const char* name, const std::vector<double>& viaStore, const std::vector<double>& bare) {
        const double s = median(viaStore), b = median(bare);
        std::printf("%-40s store %7.1f ms   bare bridge %7.1f ms   added %6.1f ms (%.3fx)\n", name, s, b, s - b, s / b);
    };
    std::printf("median of %d rounds against %s\n", rounds, qPrintable(service.url()));
    report("Korvo list (listSecrets)", listViaStore, listBare);
    report("sign-in (3 commands)", loginViaStore, loginBare);
    std::printf("largest heartbeat gap on the window's thread: %lld ms (5 ms tick)\n", static_cast<long long>(largestGap));
    return store.errorMessage().isEmpty() ? 0 : 1;
}
