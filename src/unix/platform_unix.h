// Pieces of the POSIX platform layer that tests reach directly.
#ifndef QUENDRAL_HOSTS_PLATFORM_UNIX_H
#define QUENDRAL_HOSTS_PLATFORM_UNIX_H

#include <sys/types.h>

#include "../platform.h"

enum { PATH_MAX_LEN = 8300 };

// Copies `tmp` over `target` in place and flushes it; used when `target`
// cannot be renamed over. On FILE_FAILED `target` holds its old bytes.
file_status overwrite_in_place(const char *tmp, const char *target, sys_error *err);

// System calls of this layer that tests replace to provoke failures a real
// system gives only rarely.
struct unix_calls {
    // posix_fallocate: returns 0 or an errno value.
    int (*reserve)(int fd, off_t size);
    ssize_t (*write_at)(int fd, const void *data, std::size_t size, off_t offset);
    int (*set_xattr)(int fd, const char *name, const void *value, std::size_t size);
};

extern const unix_calls native_unix_calls;
extern const unix_calls *s_unix_calls;

#endif
