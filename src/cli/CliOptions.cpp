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
    return accountCommandNamed(name);
}

std::optional<UsageError> checkCounts(const CliOptions& options, const QString& name)
{
    const bool standardInput = options.paths.contains(QStringLiteral("-"));
    if (options.paths.isEmpty())
        return UsageError{QStringLiteral("%1: nothing to %1 was given").arg(name)};
    if (options.command == CliOptions::Command::open && options.paths.size() != 1)
        return UsageError{QStringLiteral("open: give exactly one file")};
    if (options.command == CliOptions::Command::bundle && !options.output)
        return UsageError{QStringLiteral("bundle: give the archive to write with -o")};
    if (options.command == CliOptions::Command::bundle && (standardInput || options.output == QStringLiteral("-")))
        return UsageError{QStringLiteral("bundle: works on files and folders only, not on \"-\"")};
    if (standardInput && options.paths.size() > 1)
        return UsageError{QStringLiteral("%1: standard input (\"-\") cannot be combined with other items").arg(name)};
    return std::nullopt;
}

// Applies one option; `value` is its argument when it takes one. An error message, or empty.
QString apply(CliOptions& options, QChar shortName, const std::optional<QString>& value, bool& help)
{
    switch (shortName.unicode()) {
    case 'o':
        if (options.output)
            return QStringLiteral("give only one output");
        if (!value || value->isEmpty())
            return QStringLiteral("-o/--output needs a path");
        options.output = *value;
        return {};
    case 'f': options.force = true; return {};
    case 'q': options.level = Console::Level::quiet; return {};
    case 'v': options.level = Console::Level::verbose; return {};
    case 'h': help = true; return {};
    default: return QStringLiteral("unknown option -%1").arg(shortName);
    }
}

QChar shortNameOf(const QString& longName)
{
    static const std::pair<const char*, char> names[] = {
        {"output", 'o'}, {"force", 'f'}, {"quiet", 'q'}, {"verbose", 'v'}, {"help", 'h'}};
    for (const auto& [name, letter] : names) {
        if (longName == QLatin1String(name))
            return QLatin1Char(letter);
    }
    return {};
}

} // namespace

std::variant<CliOptions, UsageError> parseArguments(const QStringList& arguments)
{
    CliOptions options;
    if (arguments.isEmpty())
        return UsageError{QStringLiteral("no command was given")};
    const QString& first = arguments.first();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || first == QLatin1String("help"))
        return options;
    if (first == QLatin1String("--version")) {
        options.command = CliOptions::Command::version;
        return options;
    }
    const auto command = commandNamed(first);
    if (!command)
        return UsageError{QStringLiteral("unknown command \"%1\"").arg(first)};
    options.command = *command;

    bool optionsEnded = false, help = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const auto nextValue = [&]() -> std::optional<QString> {
            return i + 1 < arguments.size() ? std::optional(arguments.at(++i)) : std::nullopt;
        };
        QString error;
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            options.paths.append(argument);
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
            const QChar letter = shortNameOf(name);
            const auto account = letter.isNull() ? applyAccountOption(options, name, equals < 0 ? std::nullopt
                                                                          : std::optional(argument.mid(equals + 1)), nextValue)
                                                 : std::nullopt;
            if (account)
                error = *account;
            else if (letter.isNull())
                error = QStringLiteral("unknown option --%1").arg(name);
            else if (letter == QLatin1Char('o'))
                error = apply(options, letter, equals < 0 ? nextValue() : std::optional(argument.mid(equals + 1)), help);
            else if (equals >= 0)
                error = QStringLiteral("option --%1 takes no value").arg(name);
            else
                error = apply(options, letter, std::nullopt, help);
        } else {
            // A cluster of short options; -o takes the rest of the cluster, or the next argument.
            for (qsizetype at = 1; at < argument.size() && error.isEmpty(); ++at) {
                const QChar letter = argument.at(at);
                if (letter != QLatin1Char('o')) {
                    error = apply(options, letter, std::nullopt, help);
                    continue;
                }
                error = apply(options, letter, at + 1 < argument.size() ? std::optional(argument.mid(at + 1)) : nextValue(),
                              help);
                break;
            }
        }
        if (!error.isEmpty())
            return UsageError{error};
    }
    if (help)
        return CliOptions{};
    if (auto error = checkAccountUsage(options, first))
        return *error;
    if (auto error = accountCommandNamed(first) ? std::nullopt : checkCounts(options, first))
        return *error;
    return options;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: korvo-cli lock [OPTION]... PATH...\n"
        "       korvo-cli open [OPTION]... FILE\n"
        "       korvo-cli bundle -o ARCHIVE [OPTION]... PATH...\n"
        "       korvo-cli --help | --version\n"
        "\n"
        "Seals files with the local protection key kept in your keychain, and opens them again.\n"
        "Files locked here open in the Korvo application and the other way round.\n"
        "\n"
        "Commands:\n"
        "  lock     seal one file as it is; several items or a folder are first bundled into one\n"
        "           zip archive. Default output: the file's (or bundle's) name + \".korvolocal\".\n"
        "  open     open a protected file. Default output: its name without \".korvolocal\"\n"
        "           (else without \".korvo\", else with \".zip\" removed).\n"
        "  bundle   only bundle the items into a zip archive.\n"
        "\n"
        "Options:\n"
        "  -o, --output=PATH   where to save (default: the current folder). An existing folder\n"
        "                      receives the output under its default name; \"-\" is standard\n"
        "                      output.\n"
        "  -f, --force         replace an existing output (without it, never replaced)\n"
        "  -q, --quiet         print nothing but errors\n"
        "  -v, --verbose       say what is done, step by step\n"
        "  -h, --help          show this text\n"
        "      --version       show the version\n"
        "A PATH of \"-\" is standard input. Short options combine: -fo PATH is -f -o PATH.\n"
        "\n"
        "Examples:\n"
        "  korvo-cli lock report.pdf                 # writes report.pdf.korvolocal\n"
        "  korvo-cli lock -o ~/Safe Photos/          # the folder, bundled, into ~/Safe\n"
        "  korvo-cli lock -fo notes.korvolocal a b   # two files in one, replacing notes.korvolocal\n"
        "  korvo-cli open report.pdf.korvolocal      # writes report.pdf\n"
        "  korvo-cli open --output=- x.korvolocal | less\n"
        "  tar c docs | korvo-cli lock - > docs.tar.korvolocal\n"
        "  korvo-cli bundle -o docs.zip docs/\n"
        "\n"
        "Hidden items, sockets, pipes and devices inside folders are left out of bundles, and\n"
        "counted; items of the same name are numbered. A named pipe is read as a stream.\n"
        "Success prints nothing but the path of an output whose name korvo-cli chose.\n"
        "Protected data is never written to a terminal. When opening to standard output fails,\n"
        "the data written before the failure must be thrown away.\n"
        "\n"
        "Exit status: 0 done, 1 failed (the file and the reason on standard error), 2 wrong\n"
        "usage, 130 interrupted (nothing is saved and no temporary file is left).\n");
}
