#include "cli/CliOptions.h"

namespace {

std::optional<CliOptions::Command> commandNamed(const QString& name)
{
    if (name == QLatin1String("lock"))
        return CliOptions::Command::lock;
    if (name == QLatin1String("open"))
        return CliOptions::Command::open;
    if (name == QLatin1String("bundle"))
        return CliOptions::Command::bundle;
    return std::nullopt;
}

std::optional<UsageError> checkCounts(const CliOptions& options, const QString& name)
{
    if (options.paths.isEmpty())
        return UsageError{QStringLiteral("%1: nothing to %1 was given.").arg(name)};
    if (options.command == CliOptions::Command::open && options.paths.size() != 1)
        return UsageError{QStringLiteral("open: give exactly one file.")};
    if (options.command == CliOptions::Command::bundle && !options.output)
        return UsageError{QStringLiteral("bundle: give the archive to write with -o.")};
    return std::nullopt;
}

} // namespace

std::variant<CliOptions, UsageError> parseArguments(const QStringList& arguments)
{
    CliOptions options;
    if (arguments.isEmpty())
        return UsageError{QStringLiteral("No command was given.")};
    const QString& first = arguments.first();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || first == QLatin1String("help"))
        return options;
    if (first == QLatin1String("--version")) {
        options.command = CliOptions::Command::version;
        return options;
    }
    const auto command = commandNamed(first);
    if (!command)
        return UsageError{QStringLiteral("Unknown command \"%1\".").arg(first)};
    options.command = *command;

    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            options.paths.append(argument);
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            return CliOptions{};
        } else if (argument == QLatin1String("-f") || argument == QLatin1String("--force")) {
            options.force = true;
        } else if (argument == QLatin1String("-o") || argument == QLatin1String("--output")) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty())
                return UsageError{QStringLiteral("%1 needs a path.").arg(argument)};
            if (options.output)
                return UsageError{QStringLiteral("Give only one output.")};
            options.output = arguments.at(++i);
        } else {
            return UsageError{QStringLiteral("Unknown option \"%1\".").arg(argument)};
        }
    }
    if (auto error = checkCounts(options, first))
        return *error;
    return options;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: korvo-cli lock [-o OUTPUT] [-f] PATH...\n"
        "       korvo-cli open [-o OUTPUT] [-f] FILE\n"
        "       korvo-cli bundle -o OUTPUT.zip [-f] PATH...\n"
        "       korvo-cli --help | --version\n"
        "\n"
        "Seals files with the local protection key kept in your keychain, and opens them again;\n"
        "files locked here open in the Korvo application and the other way round.\n"
        "\n"
        "  lock     seal one file as it is; several items or a folder are bundled into one zip\n"
        "           archive first. Default output: the file's (or bundle's) name + \".korvolocal\".\n"
        "  open     open a protected file. Default output: its name without \".korvolocal\"\n"
        "           (else without \".korvo\", else with \".zip\" removed).\n"
        "  bundle   only bundle the items into a zip archive at OUTPUT.zip.\n"
        "\n"
        "  -o, --output PATH   where to save; by default in the current folder\n"
        "  -f, --force         replace an existing output\n"
        "  -h, --help          show this text\n"
        "      --version       show the version\n"
        "\n"
        "Exit status: 0 done, 1 failed (the reason on standard error), 2 wrong usage.\n");
}
