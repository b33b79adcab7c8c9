#pragma once

#include "cli/CliCommands.h"

// korvo-cli in account mode, on the flows the application uses and with the identity it keeps
// in the keychain: signing in here signs the application in, and the other way round.
namespace CliAccountCommands {

// True when the file at `path` is locked for a Korvo (its first bytes say so).
bool isAccountFile(const QString& path);

// sign-in, sign-out, status and korvos: each prints its result on standard output.
void run(const CliOptions& options);

// lock --for N and the opening of a ".korvo" file, with the local commands' conventions: the
// path saved, or nothing when the result went to standard output.
std::optional<CliCommands::Saved> lock(const CliOptions& options, CliCommands::Context& context);
std::optional<CliCommands::Saved> open(const CliOptions& options, CliCommands::Context& context);

} // namespace CliAccountCommands
