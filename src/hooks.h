// The library's seams: every call it makes to the operating system or to
// the allocator goes through one of the tables below, so that a test can
// put a substitute in and provoke a failure at a chosen moment. Only tests
// change `s_hooks`, and every test fixture puts the native tables back with
// restore_native_hooks() before and after each test, so that a test that
// fails half-way leaves nothing behind for the next one.
#ifndef QUENDRAL_HOSTS_HOOKS_H
#define QUENDRAL_HOSTS_HOOKS_H

#include <cstddef>

#include "platform.h"

// Where memory comes from: `resize` grows `block` (nullptr: a new one) from
// `old_size` to `new_size` bytes keeping its contents, or returns nullptr
// and leaves the block as it was; `release` gives back what `resize` handed
// out. Both are told the size, since the size says where a block lives.
struct qh_memory {
    void *(*resize)(void *block, std::size_t old_size, std::size_t new_size);
    void (*release)(void *block, std::size_t size);
};

extern const qh_memory native_memory;

// A platform layer's own system calls, beyond the tables of platform.h:
// defined, and used, by the platform layer alone (unix/os_calls.h,
// win/os_calls.h).
struct os_calls;
extern const os_calls native_os_calls;

struct qh_hooks {
    const qh_system *system;
    const qh_file_methods *files;
    const qh_memory *memory;
    const qh_pages *pages;
    const os_calls *os;
};

extern qh_hooks s_hooks;

// Points every hook at the native table again.
void restore_native_hooks() noexcept;

#endif
