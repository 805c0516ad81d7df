// The temporary file as the lock of a save, by the rules in save_lock.h.
#include "save_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

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
    char dir[k_path_size];
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

}  // namespace

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

void discard(qh_file *file, const char *tmp) {
    ::unlink(tmp);
    ::close(as_fd(file));
}

}  // namespace platform
