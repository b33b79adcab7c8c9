// Runs one file command of the bridge through the engine's runner, as the application's store
// does, and prints "ok" or the sentence the store would be given.
//   faults_bridge_job COMMAND FILE OUTPUT SECRET_ID PRINCIPAL_ID KEY_HEX SERVICE_URL
// The bridge script comes from KORVO_BRIDGE_SCRIPT.

#include "core/KorvoError.h"
#include "core/bridge/BridgeRunner.h"

#include <QCoreApplication>

#include <qcoro/qcorotask.h>

#include <cstdio>

namespace {

// "ok", or the failure's sentence: caught in here, since waiting on a task that throws never ends.
QCoro::Task<QString> outcome(const BridgeRunner& runner, BridgeRequest request)
{
    try {
        QCoro::Task<FileJobResult> running = runner.run<FileJobResult>(std::move(request));
        co_await running;
        co_return QStringLiteral("ok");
    } catch (const KorvoError& error) {
        co_return error.message();
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 8) {
        std::fputs("usage: faults_bridge_job COMMAND FILE OUTPUT SECRET_ID PRINCIPAL_ID KEY_HEX SERVICE_URL\n", stderr);
        return 2;
    }
    BridgeSurroundings surroundings;
    surroundings.environment = QProcessEnvironment::systemEnvironment();
    const BridgeRunner runner(surroundings, arguments[7]);
    BridgeRequest request;
    request.command = arguments[1];
    request.filePath = arguments[2];
    request.outputPath = arguments[3];
    request.secretId = arguments[4].toLongLong();
    request.principalId = arguments[5];
    request.ed25519PrivateKeyHex = arguments[6];
    request.blackboxUrl = runner.blackboxUrl();
    QCoro::Task<QString> running = outcome(runner, request);
    const QString said = QCoro::waitFor(running);
    std::puts(said.toUtf8().constData());
    return said == QLatin1String("ok") ? 0 : 1;
}
