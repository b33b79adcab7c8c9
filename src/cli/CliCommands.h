#pragma once

#include "cli/CliOptions.h"
#include "core/KorvoError.h"

#include <QByteArray>
#include <functional>

// A failure of the command line itself (as opposed to the engine's), with its sentence.
class CliError : public KorvoError {
public:
    using KorvoError::KorvoError;
};

namespace CliCommands {

// Supplies the local protection key; the real one reads the keychain.
using KeySource = std::function<QByteArray()>;

// Each runs one command and returns the path it saved; throws KorvoError (or the ZIP writer's
// std::exception) with the sentence to show.
QString lock(const CliOptions& options, const KeySource& key);
QString open(const CliOptions& options, const KeySource& key);
QString bundle(const CliOptions& options);

} // namespace CliCommands
