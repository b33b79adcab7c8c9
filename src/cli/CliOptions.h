#pragma once

#include "cli/Console.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What the command line asks for.
struct CliOptions {
    enum class Command { help, version, lock, open, bundle };

    Command command = Command::help;
    std::optional<QString> output;               // -o / --output; "-" is standard output
    bool force = false;                          // -f / --force
    Console::Level level = Console::Level::normal;   // -q / --quiet, -v / --verbose
    QStringList paths;                           // as given; "-" is standard input
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
