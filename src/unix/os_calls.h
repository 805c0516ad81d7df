// System calls of the POSIX layer that tests replace, through the hooks, to
// provoke failures a real system gives only rarely.
#ifndef QUENDRAL_HOSTS_UNIX_OS_CALLS_H
#define QUENDRAL_HOSTS_UNIX_OS_CALLS_H

#include <sys/types.h>

#include <cstddef>

struct os_calls {
    // Takes room on the disk for the first `size` bytes of the file without
    // changing its length: 0 or an errno value, EOPNOTSUPP where the file
    // system cannot.
    int (*reserve)(int fd, off_t size);
    ssize_t (*write_at)(int fd, const void *data, std::size_t size, off_t offset);
    int (*set_xattr)(int fd, const char *name, const void *value, std::size_t size);
    // fsync of the folder that holds a replaced file.
    int (*sync_folder)(int fd);
};

#endif
