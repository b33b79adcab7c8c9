#pragma once

#include "cli/Console.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <variant>

// What the command line asks for.
struct CliOptions {
    enum class Command { help, version, lock, open, bundle, signIn, signOut, status, korvos };

    Command command = Command::help;
    std::optional<QString> output;               // -o / --output; "-" is standard output
    bool force = false;                          // -f / --force
    Console::Level level = Console::Level::normal;   // -q / --quiet, -v / --verbose
    QStringList paths;                           // as given; "-" is standard input
    // Account mode (CliAccountOptions.cpp).
    std::optional<qint64> recipient;             // lock --for N: lock for Korvo number N
    bool passwordFromStandardInput = false;      // sign-in --password-stdin
    bool newKorvo = false;                       // korvos --new
    std::optional<qint64> selectKorvo;           // korvos --select N
};

// A command line that cannot be run: exit status 2, the message and a pointer to --help.
struct UsageError {
    QString message;
};

// Parses the arguments after the program name, the way Unix tools do: options may come
// before, between or after the paths; short options combine ("-fo PATH", "-qf"); a value may
// follow its option attached ("-oPATH", "--output=PATH") or as the next argument; "--" ends
// the options and "-" alone is a path.
std::variant<CliOptions, UsageError> parseArguments(const QStringList& arguments);

QString usageText();

// The account commands and options (CliAccountOptions.cpp): the command named `name`, if it is
// one; applies a long option (`value` is its attached value; `next` takes the following
// argument) and returns nothing when `name` is not an account option, else an error message or
// an empty text; checks an account command's arguments once all are read.
std::optional<CliOptions::Command> accountCommandNamed(const QString& name);
std::optional<QString> applyAccountOption(CliOptions& options, const QString& name, const std::optional<QString>& value,
                                          const std::function<std::optional<QString>()>& next);
std::optional<UsageError> checkAccountUsage(const CliOptions& options, const QString& name);
QString accountUsageText();
