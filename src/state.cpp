// Module-global state that is not a table: the last error text, the chosen
// hosts path and the version. All of it is zero at load, so nothing needs
// initialising.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "hosts_internal.h"
#include "platform.h"

char s_err[ERR_SIZE];
char s_path[PATH_SIZE];

const qh_platform *s_platform = &native_platform;

namespace {
const char k_version[] = "1.0.0";
}

void set_err(const char *fmt, ...) noexcept {
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(s_err, sizeof s_err, fmt, args);
    va_end(args);
}

void clear_err() noexcept {
    s_err[0] = '\0';
}

const char *path_in_use() noexcept {
    return s_path[0] ? s_path : s_platform->default_path();
}

QH_EXPORT int QH_CALL hosts_set_path(const char *path) noexcept {
    clear_err();
    if (path == nullptr || path[0] == '\0') {
        s_path[0] = '\0';
        return 1;
    }
    std::size_t len = std::strlen(path);
    if (len > PATH_SIZE - 1) {
        set_err("path too long");
        return -1;
    }
    std::memcpy(s_path, path, len + 1);
    return 1;
}

QH_EXPORT const char *QH_CALL hosts_version(void) noexcept {
    return k_version;
}

QH_EXPORT const char *QH_CALL hosts_last_error(void) noexcept {
    return s_err;
}
