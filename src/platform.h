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
    RESOLVER_NOT_RUNNING,  // the resolver service is not running: it caches nothing
    RESOLVER_FLUSHED,
    RESOLVER_FAILED,       // the call reported failure; see `code`
};

enum command_result {
    COMMAND_ABSENT,  // not installed, or the daemon it talks to is not running
    COMMAND_RAN,     // ran to its end; see its exit code
};

struct qh_file;

struct qh_platform {
    const char *default_path;

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
    int (*replace)(const char *tmp, const char *target, sys_error *err);
    // Makes a done replace survive a power cut: flushes the folder that holds
    // `target`. Null where the replace is durable by itself.
    void (*flush_folder)(const char *target);

    // Names used in the flush messages.
    const char *resolver_library;
    const char *resolver_lookup;
    const char *resolver_call;
    const char *resolver_code_kind;
    const char *resolver_service;
    const char *fallback_command;
    const char *cache_daemon_command;

    resolver_result (*resolver_flush)(unsigned long *code);
    // Runs the fallback command, its exit code going to `rc`.
    command_result (*run_fallback)(int *rc);
    // Tells a name service cache daemon, where one runs beside the resolver,
    // to drop its hosts entries; null on systems that have none.
    command_result (*flush_cache_daemon)(int *rc);
};

extern const qh_platform native_platform;
extern const qh_platform *s_platform;

#endif
