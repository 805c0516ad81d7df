// POSIX platform layer: /etc/hosts, rename(2) as the one-step replace, and
// systemd-resolved for the resolver cache.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../platform.h"
#include "platform_unix.h"

extern char **environ;

namespace {

void describe(int code, sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "%s", std::strerror(code));
}

int fail(sys_error *err) {
    describe(errno, err);
    return -1;
}

// A file handle is the descriptor plus one, so that descriptor 0 is not null.
qh_file *as_file(int fd) { return reinterpret_cast<qh_file *>(static_cast<std::intptr_t>(fd) + 1); }
int as_fd(qh_file *file) { return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1); }

int write_fd(int fd, const void *data, std::size_t size, sys_error *err) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(err);
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int sync_and_close(int fd, sys_error *err) {
    int rc = ::fsync(fd) == 0 ? 0 : fail(err);
    if (::close(fd) != 0 && rc == 0)
        rc = fail(err);
    return rc;
}

// Makes a rename durable: the directory entry, not only the data.
void flush_folder(const char *path) {
    const char *slash = std::strrchr(path, '/');
    char dir[PATH_MAX_LEN];
    if (slash == nullptr)
        std::snprintf(dir, sizeof dir, ".");
    else if (slash == path)
        std::snprintf(dir, sizeof dir, "/");
    else
        std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash - path), path);
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

qh_file *create_temp(const char *tmp, const char *target, sys_error *err) {
    // A stale or planted temporary name is removed, not followed: unlink acts
    // on a symlink itself, and O_EXCL | O_NOFOLLOW refuses one that reappears.
    ::unlink(tmp);
    struct stat old;
    bool has_old = ::stat(target, &old) == 0;
    int fd = ::open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    has_old ? 0600 : 0644);
    if (fd < 0) {
        fail(err);
        return nullptr;
    }
    if (has_old) {
        bool ok = ::fchmod(fd, old.st_mode & 07777) == 0;
        if (ok && ::geteuid() == 0)
            ok = ::fchown(fd, old.st_uid, old.st_gid) == 0;
        if (!ok) {
            fail(err);
            ::close(fd);
            ::unlink(tmp);
            return nullptr;
        }
    }
    return as_file(fd);
}

int write_all(qh_file *file, const void *data, std::size_t size, sys_error *err) {
    return write_fd(as_fd(file), data, size, err);
}

int commit(qh_file *file, sys_error *err) { return sync_and_close(as_fd(file), err); }

void abandon(qh_file *file) { ::close(as_fd(file)); }

int remove_file(const char *path) { return ::unlink(path); }

probe_result probe(const char *path, sys_error *err) {
    int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return PROBE_OPENED;
    }
    if (errno == ENOENT)
        return PROBE_ABSENT;
    fail(err);
    return PROBE_BLOCKED;
}

int replace(const char *tmp, const char *target, sys_error *err) {
    if (::rename(tmp, target) == 0)
        return 0;
    if (errno != EBUSY)
        return fail(err);
    if (overwrite_in_place(tmp, target, err) != 0)
        return -1;
    ::unlink(tmp);
    return 0;
}

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

// The first of `candidates` that is an executable file, or null.
const char *find_program(const char *const *candidates, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (::access(candidates[i], X_OK) == 0)
            return candidates[i];
    }
    return nullptr;
}

// Runs `program` with `argv`, output discarded, and waits for it: its exit
// code, 128 + the signal that ended it, or -1 when it could not be started.
int run_quietly(const char *program, char *const argv[]) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
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

}  // namespace

// When the hosts file is a mount point (a container's bind-mounted
// /etc/hosts) it cannot be renamed over; copying in place is the only way,
// and the one case where a crash mid-copy can leave a partial file.
int overwrite_in_place(const char *tmp, const char *target, sys_error *err) {
    int in = ::open(tmp, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return fail(err);
    int out = ::open(target, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        fail(err);
        ::close(in);
        return -1;
    }
    char buf[64 * 1024];
    int rc = 0;
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            rc = fail(err);
            break;
        }
        if (n == 0 || (rc = write_fd(out, buf, static_cast<std::size_t>(n), err)) != 0)
            break;
    }
    ::close(in);
    if (rc != 0) {
        ::close(out);
        return rc;
    }
    return sync_and_close(out, err);
}

const qh_platform native_platform = {
    "/etc/hosts",
    create_temp,
    write_all,
    commit,
    abandon,
    remove_file,
    probe,
    replace,
    flush_folder,
    "libsystemd.so.0",
    "sd_bus_call_method",
    "FlushCaches",
    "errno",
    "systemd-resolved",
    "resolvectl flush-caches",
    "nscd -i hosts",
    resolver_flush,
    run_fallback,
    flush_cache_daemon,
};
