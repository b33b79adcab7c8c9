// korvo-cli: locks and opens files on the same engine and with the same keychain key as the
// application, and bundles items into a zip archive the way the application does; in account
// mode, on the application's flows and with the account it keeps in the keychain.

#include "cli/CliAccountCommands.h"
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "cli/Console.h"
#include "cli/Interruption.h"
#include "core/Cancellation.h"
#include "core/KeychainStore.h"
#include "core/LocalFileProtectionService.h"
#include "core/NativePath.h"

#include <QStringList>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>

namespace {

constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

// Locking makes the key on first use; opening never does.
QByteArray keyForLocking()
{
    return LocalFileProtectionService::localKey(KeychainStore(makeSecretServiceKeychainBackend()), true);
}

QByteArray keyForOpening()
{
    return LocalFileProtectionService::localKey(KeychainStore(makeSecretServiceKeychainBackend()), false);
}

int run(const CliOptions& options, CliCommands::Context& context)
{
    const auto start = std::chrono::steady_clock::now();
    std::optional<CliCommands::Saved> saved;
    switch (options.command) {
    case CliOptions::Command::help:
        Console::printLine(stdout, (usageText() + accountUsageText()).chopped(1));
        return exitSuccess;
    case CliOptions::Command::version:
        std::printf("korvo-cli %s\n", KORVO_VERSION);
        return exitSuccess;
    case CliOptions::Command::lock:
        saved = options.recipient ? CliAccountCommands::lock(options, context)
                                  : CliCommands::lock(options, keyForLocking, context);
        break;
    case CliOptions::Command::open:
        saved = CliAccountCommands::isAccountFile(options.paths.first()) ? CliAccountCommands::open(options, context)
                                                                          : CliCommands::open(options, keyForOpening, context);
        break;
    case CliOptions::Command::bundle:
        saved = CliCommands::bundle(options, context);
        break;
    case CliOptions::Command::signIn:
    case CliOptions::Command::signOut:
    case CliOptions::Command::status:
    case CliOptions::Command::korvos:
        CliAccountCommands::run(options);
        Interruption::reporting();
        return exitSuccess;
    }
    Interruption::reporting();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (saved)
        Console::detail(QStringLiteral("saved %1").arg(CliCommands::shownPath(saved->path)));
    Console::detail(QStringLiteral("done in %1 s").arg(took.count(), 0, 'f', 2));
    // Silent on success, but a name korvo-cli chose is said, for the person or a script.
    if (saved && saved->nameChosen && Console::level() != Console::Level::quiet)
        Console::printLine(stdout, CliCommands::shownPath(saved->path));
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
        Console::error(usage->message);
        Console::printLine(stderr, QStringLiteral("Try 'korvo-cli --help' for more information."));
        return exitUsage;
    }
    const CliOptions& options = std::get<CliOptions>(parsed);
    Console::setLevel(options.level);
    Interruption::install();
    CliCommands::Context context;
    QString failure;
    bool brokenPipe = false;
    try {
        return run(options, context);
    } catch (const std::exception& error) {
        failure = CliCommands::describeFailure(error, context);
        brokenPipe = CliCommands::readerWentAway(error, context);
    }
    Interruption::reporting();
    if (brokenPipe) {
        // The reader of standard output is gone (`| head`): end as Unix tools do, by SIGPIPE,
        // which a library has set to be ignored. Every scratch file went with the unwinding.
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    if (Interruption::cancellation().requested()) {
        Console::error(QStringLiteral("cancelled; nothing was saved"));
        return Interruption::exitStatus();
    }
    Console::error(failure);
    return exitFailure;
}
