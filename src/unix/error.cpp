// Error texts of the POSIX layer: the system's own words for errno.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace platform {

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

}  // namespace platform
