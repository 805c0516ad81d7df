// The resolver cache on Linux: systemd-resolved over sd-bus, resolvectl as
// the fallback, and nscd where it runs.
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../flush.h"
#include "internal.h"

namespace platform {

namespace {

// sd-bus, declared here so that libsystemd is needed only at run time.
struct sd_bus;
struct sd_bus_message;
struct sd_bus_error {
    const char *name;
    const char *message;
    int need_free;
};
using bus_open_fn = int (*)(sd_bus **);
using bus_call_fn = int (*)(sd_bus *, const char *, const char *, const char *, const char *,
                            sd_bus_error *, sd_bus_message **, const char *, ...);
using bus_error_free_fn = void (*)(sd_bus_error *);
using bus_unref_fn = sd_bus *(*)(sd_bus *);

template <typename Fn>
Fn lookup(void *lib, const char *name) {
    return reinterpret_cast<Fn>(::dlsym(lib, name));
}

// Error names with which the bus answers a call to a service it does not have.
bool service_absent(const sd_bus_error &error) {
    return error.name != nullptr &&
           (std::strcmp(error.name, "org.freedesktop.DBus.Error.ServiceUnknown") == 0 ||
            std::strcmp(error.name, "org.freedesktop.DBus.Error.NameHasNoOwner") == 0);
}

}  // namespace

resolver_result resolver_flush(unsigned long *code) {
    // systemd brings libsystemd along: without it systemd-resolved cannot run.
    void *lib = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr)
        return RESOLVER_NOT_RUNNING;
    auto bus_open = lookup<bus_open_fn>(lib, "sd_bus_open_system");
    auto bus_call = lookup<bus_call_fn>(lib, "sd_bus_call_method");
    auto bus_error_free = lookup<bus_error_free_fn>(lib, "sd_bus_error_free");
    auto bus_unref = lookup<bus_unref_fn>(lib, "sd_bus_unref");
    if (!bus_open || !bus_call || !bus_error_free || !bus_unref)
        return RESOLVER_MISSING;
    sd_bus *bus = nullptr;
    int r = bus_open(&bus);
    // No system bus at all: nothing can be running on it.
    if (r == -ENOENT || r == -ECONNREFUSED)
        return RESOLVER_NOT_RUNNING;
    bool absent = false;
    if (r >= 0) {
        sd_bus_error error = {nullptr, nullptr, 0};
        r = bus_call(bus, "org.freedesktop.resolve1", "/org/freedesktop/resolve1",
                     "org.freedesktop.resolve1.Manager", "FlushCaches", &error, nullptr, "");
        absent = r < 0 && service_absent(error);
        bus_error_free(&error);
        bus_unref(bus);
    }
    if (absent)
        return RESOLVER_NOT_RUNNING;
    if (r >= 0)
        return RESOLVER_FLUSHED;
    *code = static_cast<unsigned long>(-r);
    return RESOLVER_FAILED;
}

// Runs resolvectl from the system's own directories, never through PATH.
command_result run_fallback(int *rc) {
    static const char *const candidates[] = {"/usr/bin/resolvectl", "/bin/resolvectl"};
    const char *program = find_program(candidates, 2);
    if (program == nullptr)
        return COMMAND_ABSENT;
    char arg0[] = "resolvectl";
    char arg1[] = "flush-caches";
    char *argv[] = {arg0, arg1, nullptr};
    *rc = run_quietly(program, argv);
    return COMMAND_RAN;
}

namespace {

// nscd runs when its socket accepts a connection; a socket file alone may be
// left over from a daemon that has stopped.
bool nscd_runs() {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", "/var/run/nscd/socket");
    bool runs = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return runs;
}

}  // namespace

command_result flush_cache_daemon(int *rc) {
    static const char *const candidates[] = {"/usr/sbin/nscd", "/sbin/nscd"};
    const char *program = find_program(candidates, 2);
    if (program == nullptr || !nscd_runs())
        return COMMAND_ABSENT;
    char arg0[] = "nscd";
    char arg1[] = "-i";
    char arg2[] = "hosts";
    char *argv[] = {arg0, arg1, arg2, nullptr};
    *rc = run_quietly(program, argv);
    return COMMAND_RAN;
}

}  // namespace platform

const flush_wording native_flush_wording = {
    .resolver_library = "libsystemd.so.0",
    .resolver_lookup = "sd_bus_call_method",
    .resolver_call = "FlushCaches",
    .resolver_code_kind = "errno",
    .resolver_service = "systemd-resolved",
    .fallback_command = "resolvectl flush-caches",
    .cache_daemon_command = "nscd -i hosts",
};
