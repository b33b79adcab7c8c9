#include "core/keychain/SecretServiceSession.h"

#include "core/keychain/KeychainBackend.h"

#include <cstdlib>
#include <sys/stat.h>

namespace SecretServiceSession {

namespace {

const char* const secretsBusName = "org.freedesktop.secrets";
constexpr int busCallTimeoutMs = 3000;
constexpr int activationTimeoutMs = 10000;

// GIO falls back to autolaunching a bus (and may wait on it) when no address is known; a missing
// bus is answered here instead.
bool sessionBusConfigured()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return false;
    struct stat info {};
    const std::string socket = std::string(runtime) + "/bus";
    return ::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool callBus(GDBusConnection* bus, const char* method, GVariant* arguments, const char* replyType, int timeoutMs,
             GCancellable* cancellable, GVariant** reply)
{
    GError* error = nullptr;
    *reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         method, arguments, G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE,
                                         timeoutMs, cancellable, &error);
    if (error)
        g_error_free(error);
    return *reply != nullptr;
}

// True when the service runs, or could be started by bus activation within a short time.
bool secretServiceReachable(GDBusConnection* bus, GCancellable* cancellable)
{
    GVariant* reply = nullptr;
    if (!callBus(bus, "NameHasOwner", g_variant_new("(s)", secretsBusName), "(b)", busCallTimeoutMs, cancellable,
                 &reply))
        return false;
    gboolean running = FALSE;
    g_variant_get(reply, "(b)", &running);
    g_variant_unref(reply);
    if (running)
        return true;
    if (!callBus(bus, "StartServiceByName", g_variant_new("(su)", secretsBusName, 0u), "(u)", activationTimeoutMs,
                 cancellable, &reply))
        return false;
    g_variant_unref(reply);
    return true;
}

} // namespace

Deadline::Deadline(std::chrono::milliseconds timeout)
    : m_cancellable(g_cancellable_new())
{
    m_watchdog = std::thread([this, timeout] {
        std::unique_lock lock(m_mutex);
        if (!m_finished.wait_for(lock, timeout, [this] { return m_done; })) {
            m_expired = true;
            g_cancellable_cancel(m_cancellable);
        }
    });
}

Deadline::~Deadline()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_finished.notify_all();
    m_watchdog.join();
    g_object_unref(m_cancellable);
}

bool Deadline::expired() const
{
    std::lock_guard lock(m_mutex);
    return m_expired;
}

SecretService* connect(const Deadline& deadline, int* status)
{
    *status = KeychainStatus::notAvailable;
    if (!sessionBusConfigured())
        return nullptr;
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, deadline.cancellable(), &error);
    if (!bus) {
        *status = statusFor(error, deadline);
        return nullptr;
    }
    const bool reachable = secretServiceReachable(bus, deadline.cancellable());
    g_object_unref(bus);
    if (!reachable)
        return nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, deadline.cancellable(), &error);
    if (!service) {
        *status = statusFor(error, deadline);
        return nullptr;
    }
    *status = KeychainStatus::success;
    return service;
}

int statusFor(GError* error, const Deadline& deadline)
{
    int status = KeychainStatus::notAvailable;
    if (error) {
        if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED)
            status = KeychainStatus::authFailed;
        else if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED)
                 || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_AUTH_FAILED))
            status = KeychainStatus::authFailed;
        else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) && !deadline.expired())
            status = KeychainStatus::userCanceled;
        g_error_free(error);
    }
    return status;
}

} // namespace SecretServiceSession
