// POSIX platform layer: /etc/hosts, rename(2) as the one-step replace, and
// systemd-resolved for the resolver cache.
#include "platform_unix.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "../platform.h"

extern char **environ;

namespace {

void describe(int code, sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "%s", std::strerror(code));
}

int fail(sys_error *err) {
    describe(errno, err);
    return -1;
}

file_status failed(sys_error *err) {
    describe(errno, err);
    return FILE_FAILED;
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

// The folder holding `path`, for a lock or a flush.
void parent_dir(const char *path, char (&dir)[PATH_MAX_LEN]) {
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr)
        std::snprintf(dir, sizeof dir, ".");
    else if (slash == path)
        std::snprintf(dir, sizeof dir, "/");
    else
        std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash - path), path);
}

// Makes a rename durable: the directory entry, not only the data.
void sync_parent_dir(const char *path) {
    char dir[PATH_MAX_LEN];
    parent_dir(path, dir);
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The temporary file is the lock of a save: its creator holds flock on it
// from just after creating it until it has been renamed into place or
// removed, and the kernel drops the lock when the process dies. A PATH.tmp
// that nobody holds is left over from a killed save, or planted. The rules
// that keep savers from removing or renaming one another's file:
// - only the holder of a file's lock removes its name, and only after
//   checking, under the lock, that the name still leads to that file;
// - a creator that cannot lock its new file, or finds the name leading
//   elsewhere once it holds the lock, leaves it to the saver that took it
//   for stale (who removes it) and starts again;
// - the owner renames its file while still holding the lock, so a saver
//   that waited for that lock finds the name leading elsewhere when it
//   finally gets it, and leaves the name alone.
// A symlink, FIFO, socket or device at the name is never a save's file and
// cannot be locked through the name without following it: it is removed
// under a lock on the folder, so that two savers clearing it at once
// cannot remove the file one of them has created in its place.
bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool still_named(const char *name, int fd) {
    struct stat by_name;
    struct stat by_fd;
    return ::lstat(name, &by_name) == 0 && ::fstat(fd, &by_fd) == 0 && same_file(by_name, by_fd);
}

file_status lock_status(int fd, sys_error *err) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return FILE_OK;
    if (errno == EWOULDBLOCK)
        return FILE_BUSY;
    return failed(err);
}

file_status clear_unlockable(const char *tmp, const struct stat &seen, sys_error *err) {
    char dir[PATH_MAX_LEN];
    parent_dir(tmp, dir);
    int dir_fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0)
        return failed(err);
    file_status status = lock_status(dir_fd, err);
    struct stat now;
    if (status == FILE_OK && ::lstat(tmp, &now) == 0 && same_file(now, seen) &&
        ::unlink(tmp) != 0 && errno != ENOENT)
        status = failed(err);
    ::close(dir_fd);
    return status;
}

// Removes a `tmp` that no save holds. FILE_OK: the name may be free now.
file_status clear_stale(const char *tmp, sys_error *err) {
    struct stat seen;
    if (::lstat(tmp, &seen) != 0)
        return errno == ENOENT ? FILE_OK : failed(err);
    if (S_ISDIR(seen.st_mode)) {
        describe(EISDIR, err);
        return FILE_FAILED;
    }
    if (!S_ISREG(seen.st_mode))
        return clear_unlockable(tmp, seen, err);
    // Opened to read, never to write: a planted hard link's other name
    // keeps its content whatever happens here.
    int fd = ::open(tmp, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ELOOP ? FILE_OK : failed(err);
    file_status status = lock_status(fd, err);
    if (status == FILE_OK && still_named(tmp, fd) && ::unlink(tmp) != 0 && errno != ENOENT)
        status = failed(err);
    ::close(fd);
    return status;
}

bool copy_mode_and_owner(int fd, const struct stat &old, sys_error *err) {
    bool ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && ::geteuid() == 0)
        ok = ::fchown(fd, old.st_uid, old.st_gid) == 0;
    if (!ok)
        fail(err);
    return ok;
}

file_status create_temp(const char *tmp, const char *target, qh_file **file, sys_error *err) {
    struct stat old;
    bool has_old = ::stat(target, &old) == 0;
    // A few rounds cover the races with other savers clearing the name;
    // beyond that another save is plainly at work, and the caller waits.
    for (int round = 0; round < 8; ++round) {
        int fd = ::open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        has_old ? 0600 : 0644);
        if (fd < 0) {
            if (errno != EEXIST)
                return failed(err);
            file_status cleared = clear_stale(tmp, err);
            if (cleared != FILE_OK)
                return cleared;
            continue;
        }
        file_status locked = lock_status(fd, err);
        if (locked == FILE_FAILED) {
            // No file system lock to be had: nobody else can have taken the
            // new file, so it is still ours to remove.
            ::unlink(tmp);
            ::close(fd);
            return FILE_FAILED;
        }
        if (locked == FILE_BUSY || !still_named(tmp, fd)) {
            ::close(fd);
            continue;
        }
        if (has_old && !copy_mode_and_owner(fd, old, err)) {
            ::unlink(tmp);
            ::close(fd);
            return FILE_FAILED;
        }
        *file = as_file(fd);
        return FILE_OK;
    }
    describe(EWOULDBLOCK, err);
    return FILE_BUSY;
}

int write_all(qh_file *file, const void *data, std::size_t size, sys_error *err) {
    return write_fd(as_fd(file), data, size, err);
}

int commit(qh_file *file, sys_error *err) {
    return ::fsync(as_fd(file)) == 0 ? 0 : fail(err);
}

void discard(qh_file *file, const char *tmp) {
    ::unlink(tmp);
    ::close(as_fd(file));
}

file_status open_current(const char *path, qh_file **file, sys_error *err) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? FILE_ABSENT : failed(err);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        std::snprintf(err->text, sizeof err->text, "not a regular file");
        ::close(fd);
        return FILE_FAILED;
    }
    *file = as_file(fd);
    return FILE_OK;
}

long long read_some(qh_file *file, void *data, std::size_t size, sys_error *err) {
    for (;;) {
        ssize_t n = ::read(as_fd(file), data, size);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return fail(err);
    }
}

void close_file(qh_file *file) {
    ::close(as_fd(file));
}

file_status probe(const char *path, sys_error *err) {
    int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return FILE_OK;
    }
    if (errno == ENOENT)
        return FILE_ABSENT;
    return failed(err);
}

// The temporary file stays open, and so locked, until the folder is
// flushed: no other save starts on the name before the rename is durable.
file_status replace(qh_file *, const char *tmp, const char *target, sys_error *err) {
    if (::rename(tmp, target) == 0) {
        sync_parent_dir(target);
        return FILE_OK;
    }
    if (errno != EBUSY)
        return failed(err);
    if (overwrite_in_place(tmp, target, err) != 0)
        return FILE_FAILED;
    ::unlink(tmp);
    return FILE_OK;
}

long long clock_ms() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void sleep_ms(int ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
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

resolver_result resolver_flush(unsigned long *code) {
    void *lib = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr)
        return RESOLVER_LOAD_FAILED;
    auto bus_open = lookup<bus_open_fn>(lib, "sd_bus_open_system");
    auto bus_call = lookup<bus_call_fn>(lib, "sd_bus_call_method");
    auto bus_error_free = lookup<bus_error_free_fn>(lib, "sd_bus_error_free");
    auto bus_unref = lookup<bus_unref_fn>(lib, "sd_bus_unref");
    if (!bus_open || !bus_call || !bus_error_free || !bus_unref)
        return RESOLVER_MISSING;
    sd_bus *bus = nullptr;
    int r = bus_open(&bus);
    if (r >= 0) {
        sd_bus_error error = {nullptr, nullptr, 0};
        r = bus_call(bus, "org.freedesktop.resolve1", "/org/freedesktop/resolve1",
                     "org.freedesktop.resolve1.Manager", "FlushCaches", &error, nullptr, "");
        bus_error_free(&error);
        bus_unref(bus);
    }
    if (r >= 0)
        return RESOLVER_FLUSHED;
    *code = static_cast<unsigned long>(-r);
    return RESOLVER_FAILED;
}

// Runs resolvectl from the system's own directories, never through PATH,
// with its output discarded.
int run_fallback() {
    static const char *const candidates[] = {"/usr/bin/resolvectl", "/bin/resolvectl"};
    const char *program = nullptr;
    for (const char *candidate : candidates) {
        if (::access(candidate, X_OK) == 0) {
            program = candidate;
            break;
        }
    }
    if (program == nullptr)
        return 127;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    char arg0[] = "resolvectl";
    char arg1[] = "flush-caches";
    char *argv[] = {arg0, arg1, nullptr};
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
    discard,
    open_current,
    read_some,
    close_file,
    probe,
    replace,
    clock_ms,
    sleep_ms,
    "libsystemd.so.0",
    "sd_bus_call_method",
    "FlushCaches",
    "errno",
    "resolvectl flush-caches",
    resolver_flush,
    run_fallback,
};
