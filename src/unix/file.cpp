// Plain file operations of the POSIX layer, and rename(2) as the one-step
// replace.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "internal.h"

namespace platform {

namespace {

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

void swapped(sys_error *err) {
    say("the temporary file was swapped for another file during the save", err);
}

// A write by anyone but root clears the set-user-ID and set-group-ID bits:
// the new file takes the old one's mode bits again once the last byte is
// written, and flushes that change with the data.
int restore_mode(int fd, const char *target, sys_error *err) {
    struct stat old;
    struct stat now;
    if (::lstat(target, &old) != 0 || !S_ISREG(old.st_mode))
        return 0;
    if (::fstat(fd, &now) != 0)
        return fail(err);
    if ((now.st_mode & 07777) == (old.st_mode & 07777))
        return 0;
    return ::fchmod(fd, old.st_mode & 07777) == 0 && ::fsync(fd) == 0 ? 0 : fail(err);
}

}  // namespace

// Makes a rename durable: the directory entry, not only the data. A file
// system that cannot flush a folder (EINVAL, ENOTSUP) makes it durable
// without.
int flush_folder(const char *path, sys_error *err) {
    char dir[k_path_size];
    parent_dir(path, dir);
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail(err);
    int rc = calls().sync_folder(fd) == 0 || errno == EINVAL || errno == ENOTSUP ? 0 : fail(err);
    ::close(fd);
    return rc;
}

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool still_named(const char *name, int fd) {
    struct stat by_name;
    struct stat by_fd;
    return ::lstat(name, &by_name) == 0 && ::fstat(fd, &by_fd) == 0 && same_file(by_name, by_fd);
}

file_status file_identity(const char *path, file_id *id, sys_error *err) {
    struct stat st;
    if (::stat(path, &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FILE_ABSENT : failed(err);
    *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return FILE_OK;
}

int write_all(qh_file *file, const void *data, std::size_t size, sys_error *err) {
    return write_fd(as_fd(file), data, size, err);
}

int sync(qh_file *file, sys_error *err) {
    return ::fsync(as_fd(file)) == 0 ? 0 : fail(err);
}

// The shared lock keeps a load out while a save writes the file in place
// (in_place.cpp), so that it never reads half of one version and half of
// another; where the file system has no locks, the file is read without.
file_status open_current(const char *path, qh_file **file, sys_error *err) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? FILE_ABSENT : failed(err);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        say("not a regular file", err);
        ::close(fd);
        return FILE_FAILED;
    }
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        describe(EWOULDBLOCK, err);
        ::close(fd);
        return FILE_BUSY;
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

void close(qh_file *file) {
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
// Whoever can write the folder can swap the name for another file while
// the save writes; that is found just before the rename and just after it,
// and the copy in place reads the file the save wrote, never the name.
file_status replace(qh_file *file, const char *tmp, const char *target, sys_error *err) {
    const int fd = as_fd(file);
    if (!still_named(tmp, fd)) {
        swapped(err);
        return FILE_FAILED;
    }
    if (restore_mode(fd, target, err) != 0)
        return FILE_FAILED;
    if (::rename(tmp, target) == 0) {
        if (still_named(target, fd))
            return FILE_OK;
        swapped(err);
        return FILE_FAILED;
    }
    if (errno != EBUSY)
        return failed(err);
    file_status result = overwrite_in_place(fd, target, err);
    if (result == FILE_OK && still_named(tmp, fd))
        ::unlink(tmp);
    return result;
}

}  // namespace platform
