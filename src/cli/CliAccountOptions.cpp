// The account commands' part of the command line: their names, options and usage text.
#include "cli/CliOptions.h"

#include "core/flows/RecipientLookup.h"

namespace {

using Command = CliOptions::Command;

// A Korvo number given to an option, or the error that names the option.
std::variant<qint64, QString> korvoNumber(const QString& option, const std::optional<QString>& value)
{
    if (!value || value->isEmpty())
        return QStringLiteral("--%1 needs a Korvo number").arg(option);
    if (const auto number = RecipientLookup::korvoNumber(*value))
        return *number;
    return QStringLiteral("--%1: \"%2\" is not a Korvo number").arg(option, *value);
}

} // namespace

std::optional<CliOptions::Command> accountCommandNamed(const QString& name)
{
    static const std::pair<const char*, Command> commands[] = {
        {"sign-in", Command::signIn}, {"sign-out", Command::signOut}, {"status", Command::status}, {"korvos", Command::korvos}};
    for (const auto& [commandName, command] : commands) {
        if (name == QLatin1String(commandName))
            return command;
    }
    return std::nullopt;
}

std::optional<QString> applyAccountOption(CliOptions& options, const QString& name, const std::optional<QString>& value,
                                          const std::function<std::optional<QString>()>& next)
{
    const bool flag = name == QLatin1String("password-stdin") || name == QLatin1String("new");
    if (flag && value)
        return QStringLiteral("option --%1 takes no value").arg(name);
    if (name == QLatin1String("password-stdin")) {
        options.passwordFromStandardInput = true;
        return QString();
    }
    if (name == QLatin1String("new")) {
        options.newKorvo = true;
        return QString();
    }
    if (name != QLatin1String("for") && name != QLatin1String("select"))
        return std::nullopt;
    std::optional<qint64>& target = name == QLatin1String("for") ? options.recipient : options.selectKorvo;
    if (target)
        return QStringLiteral("give --%1 only once").arg(name);
    const auto number = korvoNumber(name, value ? value : next());
    if (const auto* error = std::get_if<QString>(&number))
        return *error;
    target = std::get<qint64>(number);
    return QString();
}

std::optional<UsageError> checkAccountUsage(const CliOptions& options, const QString& name)
{
    const auto refuse = [&](const QString& what) { return UsageError{name + QStringLiteral(": ") + what}; };
    if (options.recipient && options.command != Command::lock)
        return refuse(QStringLiteral("--for belongs to lock"));
    if (options.passwordFromStandardInput && options.command != Command::signIn)
        return refuse(QStringLiteral("--password-stdin belongs to sign-in"));
    if ((options.newKorvo || options.selectKorvo) && options.command != Command::korvos)
        return refuse(QStringLiteral("--new and --select belong to korvos"));
    if (!accountCommandNamed(name))
        return std::nullopt;   // lock, open and bundle check the rest themselves
    if (options.output || options.force)
        return refuse(QStringLiteral("takes no -o or -f"));
    if (options.command == Command::signIn)
        return options.paths.size() == 1 ? std::nullopt : std::optional(refuse(QStringLiteral("give exactly one e-mail address")));
    if (!options.paths.isEmpty())
        return refuse(QStringLiteral("takes no arguments"));
    if (options.newKorvo && options.selectKorvo)
        return refuse(QStringLiteral("give either --new or --select"));
    return std::nullopt;
}

QString accountUsageText()
{
    return QStringLiteral(
        "\n"
        "Account mode, with the account the Korvo application keeps in your keychain (sign up\n"
        "in the application; signing in here or there counts for both):\n"
        "  korvo-cli sign-in [--password-stdin] EMAIL\n"
        "  korvo-cli sign-out | status\n"
        "  korvo-cli korvos [--new | --select=N]\n"
        "  korvo-cli lock --for=N [OPTION]... PATH...\n"
        "  korvo-cli open [OPTION]... FILE.korvo\n"
        "\n"
        "  sign-in     sign in; the password is read from the terminal without echo, or as one\n"
        "              line from standard input with --password-stdin.\n"
        "  sign-out    sign out and remove the saved sign-in data from this computer.\n"
        "  status      the mode, the account, its selected Korvo and this month's usage.\n"
        "  korvos      list your Korvos; --new creates one and selects it, --select=N selects\n"
        "              Korvo N.\n"
        "  lock --for=N  lock for Korvo number N (another person's or your own) into a \".korvo\"\n"
        "              file. open opens a \".korvo\" file with the signed-in account; the kind\n"
        "              of a file decides how it is opened.\n");
}
