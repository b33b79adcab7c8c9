#include "cli/Interruption.h"

#include "cli/CliCommands.h"

#include <csignal>

namespace Interruption {
namespace {

const char* const cancelledText = "Cancelled; nothing was saved.";

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onSignal(int signalNumber)
{
    stopRequested = 1;
    std::signal(signalNumber, SIG_DFL);
}

} // namespace

void install()
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

bool requested()
{
    return stopRequested != 0;
}

void throwIfRequested()
{
    if (requested())
        throw CliError(QString::fromUtf8(cancelledText));
}

} // namespace Interruption
