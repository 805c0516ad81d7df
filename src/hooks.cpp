// The one owner of the hooks: what they point at when the library is
// loaded, and the way back to that.
#include "hooks.h"

qh_hooks s_hooks = {
    .system = &native_system,
    .files = &native_file_methods,
    .memory = &native_memory,
    .pages = &native_pages,
    .os = &native_os_calls,
};

void restore_native_hooks() noexcept {
    s_hooks = {
        .system = &native_system,
        .files = &native_file_methods,
        .memory = &native_memory,
        .pages = &native_pages,
        .os = &native_os_calls,
    };
}
