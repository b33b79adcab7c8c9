#include "cli/Interruption.h"

#include "core/Cancellation.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace Interruption {
namespace {

constexpr long graceNanoseconds = 150'000'000;
// A command whose work runs in a child (the bridge) waits for it to end: the child removes its
// unfinished output only while someone reads its answer.
constexpr long childGraceNanoseconds = 10'000'000'000;
std::atomic<long> grace{graceNanoseconds};
const char* const cancelledLine = "korvo-cli: cancelled; nothing was saved\n";

Cancellation stop;
std::atomic<int> received{0};
std::atomic<bool> reported{false};

sigset_t watchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signalNumber);
    return set;
}

void watch(sigset_t set)
{
    int signalNumber = 0;
    while (sigwait(&set, &signalNumber) != 0) {
    }
    received.store(signalNumber);
    stop.request();
    const long wait = grace.load();
    const timespec period{wait / 1'000'000'000, wait % 1'000'000'000};
    sigtimedwait(&set, nullptr, &period);   // a second signal, or the grace period over
    ScratchFiles::removeAll();
    if (!reported.exchange(true) && ::write(STDERR_FILENO, cancelledLine, std::strlen(cancelledLine)) < 0) {
        // Nothing more can be done about a closed standard error.
    }
    ::_exit(128 + signalNumber);
}

} // namespace

void install()
{
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    try {
        std::thread(watch, set).detach();
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);   // no watcher: the signals keep their default effect
    }
}

const Cancellation& cancellation()
{
    return stop;
}

int exitStatus()
{
    return 128 + received.load();
}

void allowChildrenToEnd()
{
    grace.store(childGraceNanoseconds);
}

void reporting()
{
    reported.store(true);
}

} // namespace Interruption
