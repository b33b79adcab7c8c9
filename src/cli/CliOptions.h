#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What the command line asks for.
struct CliOptions {
    enum class Command { help, version, lock, open, bundle };

    Command command = Command::help;
    std::optional<QString> output;   // -o / --output
    bool force = false;              // -f / --force
    QStringList paths;               // as given; made absolute later
};

// A command line that cannot be run; exit status 2 with the usage text.
struct UsageError {
    QString message;
};

// Parses the arguments after the program name. Options may come before, between or after the
// paths; "--" ends the options.
std::variant<CliOptions, UsageError> parseArguments(const QStringList& arguments);

QString usageText();
