#pragma once

#include "cli/CliOptions.h"
#include "core/KorvoError.h"

#include <QByteArray>
#include <exception>
#include <functional>

// A failure of the command line itself (as opposed to the engine's), with its message.
class CliError : public KorvoError {
public:
    using KorvoError::KorvoError;
};

namespace CliCommands {

// Supplies the local protection key; the real one reads the keychain.
using KeySource = std::function<QByteArray()>;

// The names a command works on, as messages show them; filled in as the command goes, so that
// a failure can name the file it concerns.
struct Context {
    QString input;
    QString output;
};

// Each runs one command and returns the path it saved, or nothing when the result went to
// standard output. They throw KorvoError or the ZIP writer's error; describeFailure() words it.
std::optional<QString> lock(const CliOptions& options, const KeySource& key, Context& context);
std::optional<QString> open(const CliOptions& options, const KeySource& key, Context& context);
QString bundle(const CliOptions& options, Context& context);

// "notes.txt: No such file": the file concerned and the reason, for any failure of a command.
QString describeFailure(const std::exception& error, const Context& context);

// A path as messages show it: relative to the current folder when inside it, else absolute.
QString shownPath(const QString& absolutePath);

} // namespace CliCommands
