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

// Helpers the account commands share with these (CliCommands.cpp).
bool isFolder(const QString& path);
QString fileName(const QString& path);
// An absolute, clean path, worked out on the text alone (names keep their bytes).
QString absolutePath(const QString& path);
// The engine's selection: absolute paths, folders with a trailing "/".
QStringList selectionPaths(const QStringList& arguments);
// Throws CliError naming the first input that is not there.
void requireInputs(const QStringList& arguments);
// The output for `given` (-o), or `defaultName` in the current folder; throws when no name.
QString outputPath(const std::optional<QString>& given, const QString& defaultName, const QString& input);
// Whether korvo-cli picks the output's name: no -o, or -o naming a folder.
bool nameChosen(const CliOptions& options);
// What a command saved at `output` (nothing when the result went to standard output).
std::optional<Saved> saved(const std::optional<QString>& output, const CliOptions& options);
// Throws CliError when `output` exists and -f was not given.
void refuseExisting(const QString& output, bool force);
// Throws CliError when standard output is a terminal.
void refuseTerminal();
// Where a lock reads and writes: standard input ("-") and standard output ("-o -", or by default
// for standard input). Names the input in `context`, and throws when an input is missing or
// the output would be a terminal.
struct LockEnds {
    bool fromStandardInput;
    bool toStandardOutput;
};
LockEnds lockEnds(const CliOptions& options, Context& context);

} // namespace CliCommands
