// korvo-cli: locks and opens files on the same engine and with the same keychain key as the
// application, and bundles items into a zip archive the way the application does.

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "cli/Console.h"
#include "cli/Interruption.h"
#include "core/KeychainStore.h"
#include "core/local/Cancellation.h"
#include "core/local/NativePath.h"

#include <QStringList>

#include <cstdio>
#include <exception>

namespace {

constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

QByteArray keychainKey()
{
    return KeychainStore(makeSecretServiceKeychainBackend()).loadOrCreateLocalProtectionKey();
}

int run(const CliOptions& options)
{
    QString saved;
    switch (options.command) {
    case CliOptions::Command::help:
        std::fputs(usageText().toLocal8Bit().constData(), stdout);
        return exitSuccess;
    case CliOptions::Command::version:
        std::printf("korvo-cli %s\n", KORVO_VERSION);
        return exitSuccess;
    case CliOptions::Command::lock:
        saved = CliCommands::lock(options, keychainKey);
        break;
    case CliOptions::Command::open:
        saved = CliCommands::open(options, keychainKey);
        break;
    case CliOptions::Command::bundle:
        saved = CliCommands::bundle(options);
        break;
    }
    Interruption::reporting();
    Console::printLine(stdout, QStringLiteral("Saved to ") + saved);
    return exitSuccess;
}

} // namespace

int main(int argc, char** argv)
{
    // No application object: nothing here needs an event loop, and starting fast matters.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(NativePath::fromNative(argv[i]));

    const auto parsed = parseArguments(arguments);
    if (const auto* usage = std::get_if<UsageError>(&parsed)) {
        Console::printLine(stderr, usage->message);
        std::fputs(usageText().toLocal8Bit().constData(), stderr);
        return exitUsage;
    }
    Interruption::install();
    QString failure;
    try {
        return run(std::get<CliOptions>(parsed));
    } catch (const KorvoError& error) {
        failure = error.message();
    } catch (const std::exception& error) {
        // The ZIP writer's errors carry their sentence in what().
        failure = QString::fromUtf8(error.what());
    }
    Interruption::reporting();
    if (Interruption::cancellation().requested()) {
        Console::error(QStringLiteral("cancelled; nothing was saved"));
        return Interruption::exitStatus();
    }
    Console::error(failure);
    return exitFailure;
}
