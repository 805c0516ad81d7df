// POSIX platform layer: /etc/hosts, rename(2) as the one-step replace, and
// systemd-resolved for the resolver cache.
#include "platform_unix.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../hosts_internal.h"
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

void say(const char *text, sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "%s", text);
}

// A file handle is the descriptor plus one, so that descriptor 0 is not null.
qh_file *as_file(int fd) {
    return reinterpret_cast<qh_file *>(static_cast<std::intptr_t>(fd) + 1);
}
int as_fd(qh_file *file) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1);
}

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
void flush_folder(const char *path) {
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

const char *default_path() {
    return "/etc/hosts";
}

// Follows symbolic links at the end of `path` to the file they lead to; a
// relative link is taken from the folder of the link.
int resolve_target(const char *path, char *target, std::size_t size, sys_error *err) {
    if (std::snprintf(target, size, "%s", path) >= static_cast<int>(size)) {
        describe(ENAMETOOLONG, err);
        return -1;
    }
    for (int links = 0;; ++links) {
        struct stat st;
        if (::lstat(target, &st) != 0)
            return 0;  // absent, or a failure that the save's own steps report
        if (S_ISREG(st.st_mode))
            return 0;
        if (!S_ISLNK(st.st_mode)) {
            say("not a regular file", err);
            return -1;
        }
        char link[PATH_MAX_LEN];
        ssize_t len = ::readlink(target, link, sizeof link - 1);
        if (len < 0)
            return fail(err);
        link[len] = '\0';
        const char *slash = std::strrchr(target, '/');
        int folder = link[0] == '/' || slash == nullptr ? 0 : static_cast<int>(slash - target + 1);
        char next[PATH_MAX_LEN];
        int next_len = std::snprintf(next, sizeof next, "%.*s%s", folder, target, link);
        if (links == 40 || next_len >= static_cast<int>(size) ||
            next_len >= static_cast<int>(sizeof next)) {
            describe(links == 40 ? ELOOP : ENAMETOOLONG, err);
            return -1;
        }
        std::memcpy(target, next, static_cast<std::size_t>(next_len) + 1);
    }
}

// A buffer from the library's allocator, freed when it goes out of scope.
class heap_buffer {
public:
    explicit heap_buffer(std::size_t size)
        : size_(size ? size : 1), data_(static_cast<char *>(s_realloc(nullptr, 0, size_))) {}
    ~heap_buffer() { release_block(data_, size_); }
    heap_buffer(const heap_buffer &) = delete;
    heap_buffer &operator=(const heap_buffer &) = delete;
    char *get() const { return data_; }

private:
    std::size_t size_;
    char *data_;
};

// An extended attribute that this process may not read or set, or that the
// file system does not take, is left out; not so the SELinux label: a file
// without it may be unreadable to a confined resolver.
bool may_leave_out(const char *name, int code) {
    bool refused = code == ENOTSUP || code == EPERM || code == EACCES || code == ENODATA;
    return refused && std::strcmp(name, "security.selinux") != 0;
}

int xattr_failed(const char *name, sys_error *err) {
    if (may_leave_out(name, errno))
        return 0;
    std::snprintf(err->text, sizeof err->text, "cannot copy %s: %s", name, std::strerror(errno));
    return -1;
}

int copy_xattr(int from, int to, const char *name, sys_error *err) {
    ssize_t size = ::fgetxattr(from, name, nullptr, 0);
    if (size < 0)
        return xattr_failed(name, err);
    heap_buffer value(static_cast<std::size_t>(size));
    if (value.get() == nullptr) {
        describe(ENOMEM, err);
        return -1;
    }
    size = ::fgetxattr(from, name, value.get(), static_cast<std::size_t>(size));
    if (size < 0 ||
        s_unix_calls->set_xattr(to, name, value.get(), static_cast<std::size_t>(size)) != 0)
        return xattr_failed(name, err);
    return 0;
}

int copy_xattrs(int from, int to, sys_error *err) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return size == 0 || errno == ENOTSUP ? 0 : fail(err);
    heap_buffer names(static_cast<std::size_t>(size));
    if (names.get() == nullptr) {
        describe(ENOMEM, err);
        return -1;
    }
    size = ::flistxattr(from, names.get(), static_cast<std::size_t>(size));
    if (size < 0)
        return fail(err);
    for (const char *name = names.get(); name < names.get() + size; name += std::strlen(name) + 1) {
        if (copy_xattr(from, to, name, err) != 0)
            return -1;
    }
    return 0;
}

// Gives the new file what the old one had beyond its bytes: owner and group
// (as root), extended attributes (SELinux label, ACLs) and mode bits with
// set-user-ID and set-group-ID. The owner goes first because a change of
// owner clears those two bits.
int copy_metadata(const char *target, int to, sys_error *err) {
    int from = ::open(target, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (from < 0)
        return errno == ENOENT ? 0 : fail(err);
    struct stat old;
    int rc = ::fstat(from, &old) == 0 ? 0 : fail(err);
    if (rc == 0 && ::geteuid() == 0 && ::fchown(to, old.st_uid, old.st_gid) != 0)
        rc = fail(err);
    if (rc == 0)
        rc = copy_xattrs(from, to, err);
    if (rc == 0 && ::fchmod(to, old.st_mode & 07777) != 0)
        rc = fail(err);
    ::close(from);
    return rc;
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
        if (has_old && copy_metadata(target, fd, err) != 0) {
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
    if (::rename(tmp, target) == 0)
        return FILE_OK;
    if (errno != EBUSY)
        return failed(err);
    file_status result = overwrite_in_place(tmp, target, err);
    if (result == FILE_OK)
        ::unlink(tmp);
    return result;
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

// Moves all `size` bytes at `offset` through `call` (a pread or pwrite),
// going on after short transfers and interruptions; a transfer of nothing
// is an error, since the file is never shorter than what is asked of it.
template <typename Bytes, typename Call>
int whole_at(int fd, Bytes *data, std::size_t size, off_t offset, Call call, sys_error *err) {
    while (size > 0) {
        ssize_t n = call(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            describe(n < 0 ? errno : EIO, err);
            return -1;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return 0;
}

int read_at(int fd, char *data, std::size_t size, off_t offset, sys_error *err) {
    return whole_at(fd, data, size, offset, ::pread, err);
}

int write_at(int fd, const char *data, std::size_t size, off_t offset, sys_error *err) {
    return whole_at(fd, data, size, offset, s_unix_calls->write_at, err);
}

// Copies the whole of `in` to the start of `out` and cuts `out` to that size.
int copy_over(int in, std::size_t size, int out, sys_error *err) {
    char buf[64 * 1024];
    for (std::size_t done = 0; done < size;) {
        std::size_t chunk = size - done < sizeof buf ? size - done : sizeof buf;
        off_t offset = static_cast<off_t>(done);
        if (read_at(in, buf, chunk, offset, err) != 0 ||
            write_at(out, buf, chunk, offset, err) != 0)
            return -1;
        done += chunk;
    }
    if (::ftruncate(out, static_cast<off_t>(size)) != 0 || ::fsync(out) != 0)
        return fail(err);
    return 0;
}

int put_back(int out, const char *old, std::size_t size, sys_error *err) {
    if (write_at(out, old, size, 0, err) != 0)
        return -1;
    if (::ftruncate(out, static_cast<off_t>(size)) != 0 || ::fsync(out) != 0)
        return fail(err);
    return 0;
}

file_status restore_failed(const char *reason, sys_error *err) {
    std::size_t used = std::strlen(err->text);
    std::snprintf(err->text + used, sizeof err->text - used,
                  "; restoring the old content failed too: %s", reason);
    return FILE_TEMP_KEPT;
}

// With both files open: the old bytes are kept in memory, the room for the
// new content is taken before the first old byte changes, and after a
// failure part-way the old bytes are written back.
file_status overwrite_open(int in, int out, sys_error *err) {
    struct stat new_st;
    struct stat old_st;
    if (::fstat(in, &new_st) != 0 || ::fstat(out, &old_st) != 0) {
        fail(err);
        return FILE_FAILED;
    }
    std::size_t new_size = static_cast<std::size_t>(new_st.st_size);
    std::size_t old_size = static_cast<std::size_t>(old_st.st_size);
    heap_buffer old(old_size);
    if (old.get() == nullptr) {
        describe(ENOMEM, err);
        return FILE_FAILED;
    }
    if (read_at(out, old.get(), old_size, 0, err) != 0)
        return FILE_FAILED;
    if (new_size > old_size) {
        int code = s_unix_calls->reserve(out, static_cast<off_t>(new_size));
        if (code != 0) {
            describe(code, err);
            // A reservation that failed part-way may have lengthened the file.
            if (::ftruncate(out, static_cast<off_t>(old_size)) == 0)
                return FILE_FAILED;
            return restore_failed(std::strerror(errno), err);
        }
    }
    if (copy_over(in, new_size, out, err) == 0)
        return FILE_OK;
    sys_error restore{};
    if (put_back(out, old.get(), old_size, &restore) == 0)
        return FILE_FAILED;
    return restore_failed(restore.text, err);
}

int reserve(int fd, off_t size) {
    return ::posix_fallocate(fd, 0, size);
}

ssize_t pwrite_fd(int fd, const void *data, std::size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset);
}

int set_xattr(int fd, const char *name, const void *value, std::size_t size) {
    return ::fsetxattr(fd, name, value, size, 0);
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
file_status overwrite_in_place(const char *tmp, const char *target, sys_error *err) {
    int in = ::open(tmp, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        fail(err);
        return FILE_FAILED;
    }
    // Read and write: the old bytes are read from the same descriptor.
    int out = ::open(target, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (out < 0) {
        fail(err);
        ::close(in);
        return FILE_FAILED;
    }
    file_status result = overwrite_open(in, out, err);
    ::close(in);
    ::close(out);
    return result;
}

const unix_calls native_unix_calls = {
    .reserve = reserve,
    .write_at = pwrite_fd,
    .set_xattr = set_xattr,
};

const unix_calls *s_unix_calls = &native_unix_calls;

const qh_platform native_platform = {
    .default_path = default_path,
    .resolve_target = resolve_target,
    .create_temp = create_temp,
    .write_all = write_all,
    .commit = commit,
    .discard = discard,
    .open_current = open_current,
    .read_some = read_some,
    .close_file = close_file,
    .probe = probe,
    .replace = replace,
    .flush_folder = flush_folder,
    .clock_ms = clock_ms,
    .sleep_ms = sleep_ms,
    .resolver_library = "libsystemd.so.0",
    .resolver_lookup = "sd_bus_call_method",
    .resolver_call = "FlushCaches",
    .resolver_code_kind = "errno",
    .resolver_service = "systemd-resolved",
    .fallback_command = "resolvectl flush-caches",
    .cache_daemon_command = "nscd -i hosts",
    .resolver_flush = resolver_flush,
    .run_fallback = run_fallback,
    .flush_cache_daemon = flush_cache_daemon,
};
