// Pieces of the POSIX platform layer that tests reach directly.
#ifndef QUENDRAL_HOSTS_PLATFORM_UNIX_H
#define QUENDRAL_HOSTS_PLATFORM_UNIX_H

#include "../platform.h"

enum { PATH_MAX_LEN = 8300 };

// Copies `tmp` over `target` in place and flushes it; used when `target`
// cannot be renamed over. Returns 0, or -1 with `err` filled.
int overwrite_in_place(const char *tmp, const char *target, sys_error *err);

#endif
