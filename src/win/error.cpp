// Error texts of the Windows layer: the system's own words for a Win32
// error code.
#include <cstdio>

#include "internal.h"

namespace platform {

void describe(DWORD code, sys_error *err) {
    DWORD len = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               code, 0, err->text, sizeof err->text, nullptr);
    while (len > 0 && (err->text[len - 1] == '\r' || err->text[len - 1] == '\n' ||
                       err->text[len - 1] == ' ' || err->text[len - 1] == '.'))
        --len;
    if (len == 0)
        std::snprintf(err->text, sizeof err->text, "Win32 error %lu", code);
    else
        err->text[len] = '\0';
}

int fail(sys_error *err) {
    describe(GetLastError(), err);
    return -1;
}

file_status failed(sys_error *err) {
    describe(GetLastError(), err);
    return FILE_FAILED;
}

void say(const char *text, sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "%s", text);
}

}  // namespace platform
