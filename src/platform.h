// The few things that differ between operating systems: the default hosts
// path, the file operations of a save, and the resolver cache flush. The core
// reaches them only through `s_platform`, which tests may point at a
// substitute to provoke every failure branch.
#ifndef QUENDRAL_HOSTS_PLATFORM_H
#define QUENDRAL_HOSTS_PLATFORM_H

#include <cstddef>

// The system's description of a failed operation, filled by the operation.
struct sys_error {
    char text[256];
};

enum probe_result {
    PROBE_ABSENT,   // no file at the path: the replace may create it
    PROBE_OPENED,   // opened for exclusive writing and closed again
    PROBE_BLOCKED,  // present but not exclusively writable: leave it alone
};

enum resolver_result {
    RESOLVER_LOAD_FAILED,  // the resolver library cannot be loaded
    RESOLVER_MISSING,      // the library lacks the flush function
    RESOLVER_FLUSHED,
    RESOLVER_FAILED,  // the call reported failure; see `code`
};

struct qh_file;

struct qh_platform {
    const char *default_path;

    // Creates (or truncates) `tmp` to receive the new content of `target`.
    qh_file *(*create_temp)(const char *tmp, const char *target, sys_error *err);
    // Writes all `size` bytes or fails.
    int (*write_all)(qh_file *file, const void *data, std::size_t size, sys_error *err);
    // Flushes the data to stable storage and closes; the file is closed
    // whether or not this succeeds.
    int (*commit)(qh_file *file, sys_error *err);
    // Closes after a failure, without flushing.
    void (*abandon)(qh_file *file);
    int (*remove_file)(const char *path);
    probe_result (*probe)(const char *path, sys_error *err);
    // Puts `tmp` in the place of `target` in one step.
    int (*replace)(const char *tmp, const char *target, sys_error *err);

    // Names used in the flush messages.
    const char *resolver_library;
    const char *resolver_lookup;
    const char *resolver_call;
    const char *resolver_code_kind;
    const char *fallback_command;

    resolver_result (*resolver_flush)(unsigned long *code);
    // Runs the fallback command; returns its exit code.
    int (*run_fallback)();
};

extern const qh_platform native_platform;
extern const qh_platform *s_platform;

// Address space for the large blocks of memory (the record table of a big
// file): reserved once, then made usable piece by piece as the block grows,
// so that it never moves and keeps the system's large pages. Substitutable
// like the table above.
struct qh_pages {
    // The unit of reserving and committing; 0 where large blocks gain
    // nothing from this and stay on the heap.
    std::size_t (*granule)();
    // Reserves `size` bytes (a multiple of the granule), none of them
    // usable yet; nullptr when there is no room.
    void *(*reserve)(std::size_t size);
    // Makes `size` bytes at `at`, inside a reservation, usable and zero.
    int (*commit)(void *at, std::size_t size);
    // Gives back a whole reservation.
    void (*release)(void *base, std::size_t size);
};

extern const qh_pages native_pages;
extern const qh_pages *s_pages;

#endif
