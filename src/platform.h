// The few things that differ between operating systems: the default hosts
// path, the file operations of a save, and the resolver cache flush. The core
// reaches them only through `s_platform`, which tests may point at a
// substitute to provoke every failure branch.
#ifndef QUENDRAL_HOSTS_PLATFORM_H
#define QUENDRAL_HOSTS_PLATFORM_H

#include <cstddef>
#include <cstdio>

// The system's description of a failed operation, filled by the operation.
struct sys_error {
    char text[256];
};

enum probe_result {
    PROBE_ABSENT,   // no file at the path: the replace may create it
    PROBE_OPENED,   // opened for exclusive writing and closed again
    PROBE_BLOCKED,  // present but not exclusively writable: leave it alone
};

enum open_result {
    OPENED,
    OPEN_ABSENT,       // no file at the path
    OPEN_NOT_REGULAR,  // a folder, FIFO or device: never read
    OPEN_FAILED,       // see the sys_error
};

enum replace_result {
    REPLACED,
    REPLACE_FAILED,  // the old file is as it was; the temporary file may go
    // The old file could not be restored after a failed in-place copy: the
    // temporary file holds the only complete new content and must stay.
    REPLACE_FAILED_TEMP_KEPT,
};

enum resolver_result {
    RESOLVER_LOAD_FAILED,  // the resolver library cannot be loaded
    RESOLVER_MISSING,      // the library lacks the flush function
    RESOLVER_FLUSHED,
    RESOLVER_FAILED,       // the call reported failure; see `code`
};

struct qh_file;

struct qh_platform {
    const char *(*default_path)();

    // Opens `path` for reading when it is a regular file, without blocking on
    // a FIFO or device; on OPEN_FAILED `err` says why.
    std::FILE *(*open_for_reading)(const char *path, open_result *result, sys_error *err);

    // Writes into `target` (room `size`) the file a save of `path` replaces:
    // the final target when `path` is a symbolic link, else `path` itself.
    // Fails when that file exists and is not a regular file.
    int (*resolve_target)(const char *path, char *target, std::size_t size, sys_error *err);

    // Creates (or truncates) `tmp` to receive the new content of `target`.
    qh_file *(*create_temp)(const char *tmp, const char *target, sys_error *err);
    // Writes all `size` bytes or fails.
    int (*write_all)(qh_file *file, const void *data, std::size_t size,
                     sys_error *err);
    // Flushes the data to stable storage and closes; the file is closed
    // whether or not this succeeds.
    int (*commit)(qh_file *file, sys_error *err);
    // Closes after a failure, without flushing.
    void (*abandon)(qh_file *file);
    int (*remove_file)(const char *path);
    probe_result (*probe)(const char *path, sys_error *err);
    // Puts `tmp` in the place of `target` in one step.
    replace_result (*replace)(const char *tmp, const char *target, sys_error *err);

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

#endif
