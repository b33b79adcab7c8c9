// Linked into every program of a sanitizer build. Leak checking needs /proc and cannot run under
// a tracer (the command-line suite runs the tool under strace and in a bare root folder); there
// it is switched off instead of failing the run. Everything else stays on.
// This runs before the sanitizer runtime is ready: it is not instrumented itself and uses raw
// system calls rather than functions the runtime intercepts.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

__attribute__((no_sanitize("address", "undefined"))) const char* __asan_default_options(void)
{
    static char status[4096];
    const long fd = syscall(SYS_openat, AT_FDCWD, "/proc/self/status", O_RDONLY);
    if (fd < 0)
        return "detect_leaks=0";
    const long length = syscall(SYS_read, fd, status, sizeof status - 1);
    syscall(SYS_close, fd);
    static const char key[] = "\nTracerPid:";
    for (long i = 0; i + (long)sizeof key < length; ++i) {
        long k = 0;
        while (key[k] && status[i + k] == key[k])
            ++k;
        if (key[k])
            continue;
        for (i += k; i < length && (status[i] == ' ' || status[i] == '\t'); ++i) {
        }
        return i < length && status[i] != '0' ? "detect_leaks=0" : "";
    }
    return "";
}
