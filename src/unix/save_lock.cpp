// The temporary file as the lock of a save, by the rules in save_lock.h.
#include "save_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

file_status lock_status(int fd, sys_error *err) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return FILE_OK;
    if (errno == EWOULDBLOCK)
        return FILE_BUSY;
    return failed(err);
}

// What stands in the way at `tmp`, in words that name it: errno's text
// alone would read as a failure to create the file.
file_status obstacle(const char *what, const char *tmp, sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "%s %s: %s", what, tmp, std::strerror(errno));
    return FILE_FAILED;
}

bool unlink_failed(const char *tmp) {
    return ::unlink(tmp) != 0 && errno != ENOENT;
}

file_status clear_unlockable(const char *tmp, const struct stat &seen, sys_error *err) {
    char dir[k_path_size];
    parent_dir(tmp, dir);
    int dir_fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0)
        return obstacle("cannot lock the folder of the existing", tmp, err);
    file_status status = lock_status(dir_fd, err);
    struct stat now;
    if (status == FILE_OK && ::lstat(tmp, &now) == 0 && same_file(now, seen) && unlink_failed(tmp))
        status = obstacle("cannot remove the existing", tmp, err);
    ::close(dir_fd);
    return status;
}

// Removes a `tmp` that no save holds. FILE_OK: the name may be free now.
file_status clear_stale(const char *tmp, sys_error *err) {
    struct stat seen;
    if (::lstat(tmp, &seen) != 0)
        return errno == ENOENT ? FILE_OK : obstacle("cannot look at the existing", tmp, err);
    if (S_ISDIR(seen.st_mode)) {
        std::snprintf(err->text, sizeof err->text, "%s is a directory", tmp);
        return FILE_FAILED;
    }
    if (!S_ISREG(seen.st_mode))
        return clear_unlockable(tmp, seen, err);
    // Opened to read, never to write: a planted hard link's other name
    // keeps its content whatever happens here.
    int fd = ::open(tmp, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ELOOP)
            return FILE_OK;
        return obstacle("cannot open the existing", tmp, err);
    }
    file_status status = lock_status(fd, err);
    if (status == FILE_OK && still_named(tmp, fd) && unlink_failed(tmp))
        status = obstacle("cannot remove the existing", tmp, err);
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
        // Read and write: a copy in place reads the new content back
        // through this descriptor, never through the name.
        int fd =
            ::open(tmp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, has_old ? 0600 : 0644);
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
    if (still_named(tmp, as_fd(file)))
        ::unlink(tmp);
    ::close(as_fd(file));
}

}  // namespace platform
