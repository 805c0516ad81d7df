// Plain file operations of the POSIX layer, and rename(2) as the one-step
// replace.
#include <fcntl.h>
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

}  // namespace

// Makes a rename durable: the directory entry, not only the data.
void flush_folder(const char *path) {
    char dir[k_path_size];
    parent_dir(path, dir);
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int write_all(qh_file *file, const void *data, std::size_t size, sys_error *err) {
    return write_fd(as_fd(file), data, size, err);
}

int sync(qh_file *file, sys_error *err) {
    return ::fsync(as_fd(file)) == 0 ? 0 : fail(err);
}

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

}  // namespace platform
