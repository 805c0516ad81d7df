// What the core asks of the operating system, in three tables: calls on
// whole paths and on the system (`qh_system`), calls on a file the library
// holds open (`qh_file_methods`), and address space for large blocks
// (`qh_pages`). Each platform layer (src/unix, src/win) fills them; the core
// reaches them only through the hooks (hooks.h).
#ifndef QUENDRAL_HOSTS_PLATFORM_H
#define QUENDRAL_HOSTS_PLATFORM_H

#include <cstddef>
#include <cstdint>

// Room for any path the library takes or makes, with its NUL: the caller's
// path (at most 8191 characters), the file a link leads to, and either with
// ".tmp" appended.
constexpr std::size_t k_path_size = 8192;
constexpr std::size_t k_temp_path_size = k_path_size + sizeof ".tmp" - 1;

// The system's description of a failed operation, filled by the operation.
struct sys_error {
    char text[256];
};

// What tells one file from every other on the machine, however a path
// spells it: device and inode (POSIX), volume serial and file index
// (Windows).
struct file_id {
    std::uint64_t volume;
    std::uint64_t index;
};

inline bool operator==(const file_id &a, const file_id &b) {
    return a.volume == b.volume && a.index == b.index;
}

// Outcome of a file operation that another process can hold up for a moment.
enum file_status {
    FILE_OK,
    FILE_ABSENT,  // no file at the path
    FILE_BUSY,    // held by another process or another save: worth waiting for
    FILE_FAILED,  // see the sys_error
    // A replace in place failed part-way and could not put the old bytes
    // back: the temporary file holds the only complete new content.
    FILE_TEMP_KEPT,
    // The replace is done, but flushing it to stable storage failed: see
    // the sys_error.
    FILE_UNFLUSHED,
};

enum resolver_result {
    RESOLVER_LOAD_FAILED,  // the resolver library cannot be loaded
    RESOLVER_MISSING,      // the library lacks the flush function
    RESOLVER_NOT_RUNNING,  // the resolver service is not running: it caches nothing
    RESOLVER_FLUSHED,
    RESOLVER_FAILED,  // the call reported failure; see `code`
};

enum command_result {
    COMMAND_ABSENT,  // not installed, or the daemon it talks to is not running
    COMMAND_RAN,     // ran to its end; see its exit code
    // Started, but still running when the wait for it ended; it is left to
    // finish, and `rc` holds the milliseconds waited.
    COMMAND_TIMED_OUT,
};

struct qh_file;

struct qh_system {
    const char *(*default_path)();

    // Writes into `target` (room `size`) the file a save of `path` replaces:
    // the final target when `path` is a symbolic link, else `path` itself.
    // Fails when that file exists and is not a regular file.
    int (*resolve_target)(const char *path, char *target, std::size_t size, sys_error *err);
    // Creates `tmp` afresh to receive the new content of `target`, never
    // following or writing through whatever was at that name; the open file
    // is the save's lock (see save_lock.h on each side). FILE_BUSY: another
    // save holds it.
    file_status (*create_temp)(const char *tmp, const char *target, qh_file **file, sys_error *err);
    // Opens the hosts file to read it (a load, or a save checking what it is
    // about to replace); a FIFO, device or folder fails as "not a regular
    // file", without waiting for a writer. FILE_BUSY: another process holds
    // it for a moment (a save writing it in place, a scanner on Windows).
    file_status (*open_current)(const char *path, qh_file **file, sys_error *err);
    // FILE_OK when `path` can be opened for exclusive writing (opened and
    // closed again); FILE_FAILED when it must be left alone.
    file_status (*probe)(const char *path, sys_error *err);
    // The identity of the file at `path`, following links: FILE_OK,
    // FILE_ABSENT, or FILE_FAILED when it cannot be looked at.
    file_status (*file_identity)(const char *path, file_id *id, sys_error *err);
    // Makes a done replace survive a power cut: flushes the folder that holds
    // `target`; 0, or -1 when the flush failed. Null where the replace is
    // durable by itself.
    int (*flush_folder)(const char *target, sys_error *err);

    // A clock that only moves forward, in milliseconds, and a pause.
    long long (*clock_ms)();
    void (*sleep_ms)(int ms);

    resolver_result (*resolver_flush)(unsigned long *code);
    // Runs the fallback command, its exit code going to `rc`.
    command_result (*run_fallback)(int *rc);
    // Tells a name service cache daemon, where one runs beside the resolver,
    // to drop its hosts entries; null on systems that have none.
    command_result (*flush_cache_daemon)(int *rc);
};

struct qh_file_methods {
    // Writes all `size` bytes or fails.
    int (*write_all)(qh_file *file, const void *data, std::size_t size, sys_error *err);
    // Flushes the written data to stable storage; the file stays open.
    int (*sync)(qh_file *file, sys_error *err);
    // Reads up to `size` bytes: the count, 0 at the end, or -1.
    long long (*read_some)(qh_file *file, void *data, std::size_t size, sys_error *err);
    // Puts the synced temporary file `file`, named `tmp`, in the place of
    // `target` in one step; the file stays open (and locked) until `close`.
    // Fails when `tmp` no longer names `file`.
    file_status (*replace)(qh_file *file, const char *tmp, const char *target, sys_error *err);
    // Removes the temporary file `tmp` when that name still leads to
    // `file`, still holding it, then closes it.
    void (*discard)(qh_file *file, const char *tmp);
    void (*close)(qh_file *file);
};

// Address space for the large blocks of memory (the record table of a big
// file): reserved once, then made usable piece by piece as the block grows,
// so that it never moves and keeps the system's large pages.
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

extern const qh_system native_system;
extern const qh_file_methods native_file_methods;
extern const qh_pages native_pages;

#endif
