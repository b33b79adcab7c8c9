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

// Supplies the local protection key; the real one reads the keychain (and makes the key only
// for locking).
using KeySource = std::function<QByteArray()>;

// The names a command works on, as messages show them; filled in as the command goes, so that
// a failure can name the file it concerns.
struct Context {
    QString input;
    QString output;               // "standard output" when the result goes there
    bool toStandardOutput = false;
};

// A file a command saved, and whether korvo-cli chose its name (no -o, or -o naming a folder).
struct Saved {
    QString path;
    bool nameChosen = false;
};

// Each runs one command and returns what it saved, or nothing when the result went to standard
// output. They throw KorvoError or the ZIP writer's error; describeFailure() words it. Without
// -f an output is never replaced, not even one that another program writes meanwhile.
std::optional<Saved> lock(const CliOptions& options, const KeySource& key, Context& context);
std::optional<Saved> open(const CliOptions& options, const KeySource& key, Context& context);
Saved bundle(const CliOptions& options, Context& context);

// "notes.txt: No such file": the file concerned and the reason, for any failure of a command.
QString describeFailure(const std::exception& error, const Context& context);

// True when the failure is only that the reader of standard output went away (`| head`): the
// program then ends quietly, as by SIGPIPE.
bool readerWentAway(const std::exception& error, const Context& context);

// A path as messages show it: relative to the current folder when inside it, else absolute.
QString shownPath(const QString& absolutePath);

} // namespace CliCommands
