// What the files of the POSIX layer share among themselves; platform.cpp
// puts the operations into the core's tables.
#ifndef QUENDRAL_HOSTS_UNIX_INTERNAL_H
#define QUENDRAL_HOSTS_UNIX_INTERNAL_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "../hooks.h"
#include "../platform.h"
#include "os_calls.h"

namespace platform {

// error.cpp: the system's text for an errno value, into `err`.
void describe(int code, sys_error *err);
// describe(errno) and -1, or FILE_FAILED.
int fail(sys_error *err);
file_status failed(sys_error *err);
void say(const char *text, sys_error *err);

// A file handle is the descriptor plus one, so that descriptor 0 is not null.
inline qh_file *as_file(int fd) {
    return reinterpret_cast<qh_file *>(static_cast<std::intptr_t>(fd) + 1);
}
inline int as_fd(qh_file *file) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1);
}

inline const os_calls &calls() {
    return *s_hooks.os;
}

// path.cpp
const char *default_path();
int resolve_target(const char *path, char *target, std::size_t size, sys_error *err);
// The folder holding `path`, for a lock or a flush.
void parent_dir(const char *path, char (&dir)[k_path_size]);

// file.cpp
bool same_file(const struct stat &a, const struct stat &b);
// Whether `name` (not followed) still leads to the open file `fd`.
bool still_named(const char *name, int fd);
file_status file_identity(const char *path, file_id *id, sys_error *err);
file_status open_current(const char *path, qh_file **file, sys_error *err);
file_status probe(const char *path, sys_error *err);
int flush_folder(const char *target, sys_error *err);
int write_all(qh_file *file, const void *data, std::size_t size, sys_error *err);
int sync(qh_file *file, sys_error *err);
long long read_some(qh_file *file, void *data, std::size_t size, sys_error *err);
file_status replace(qh_file *file, const char *tmp, const char *target, sys_error *err);
void close(qh_file *file);

// metadata.cpp: gives the new file `to` what the file at `target` had
// beyond its bytes.
int copy_metadata(const char *target, int to, sys_error *err);

// in_place.cpp: copies the whole of the open file `in` over `target` in
// place and flushes it; used when `target` cannot be renamed over. On
// FILE_FAILED and FILE_BUSY `target` holds its old bytes.
file_status overwrite_in_place(int in, const char *target, sys_error *err);

// clock.cpp
long long clock_ms();
void sleep_ms(int ms);

// process.cpp: the first of `candidates` that is an executable file, or
// null; and a run of `program` with output discarded: its exit code, 128 +
// the signal that ended it, or -1 when it could not be started.
const char *find_program(const char *const *candidates, std::size_t count);
int run_quietly(const char *program, char *const argv[]);

// resolver.cpp
resolver_result resolver_flush(unsigned long *code);
command_result run_fallback(int *rc);
command_result flush_cache_daemon(int *rc);

}  // namespace platform

#endif
