#pragma once

// Reaching the Secret Service without ever blocking for long: the session bus and the service
// are checked with short timeouts before libsecret is used, and every call runs under a
// deadline that cancels it. Include before any Qt header (GLib uses the word "signals").
#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace SecretServiceSession {

// How long one keychain operation may take before it is given up.
inline constexpr std::chrono::seconds operationTimeout{15};

// A cancellable that is cancelled when the deadline passes before the object is destroyed.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds timeout);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* cancellable() const { return m_cancellable; }
    bool expired() const;

private:
    GCancellable* m_cancellable;
    mutable std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
    bool m_expired = false;
    std::thread m_watchdog;
};

// The shared service proxy with an open session, or nullptr with *status set to a keychain
// status (notAvailable when there is no session bus or no Secret Service on it).
SecretService* connect(const Deadline& deadline, int* status);

// The keychain status for a failed call (consumes the error).
int statusFor(GError* error, const Deadline& deadline);

} // namespace SecretServiceSession
