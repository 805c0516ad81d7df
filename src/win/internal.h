// What the files of the Windows layer share among themselves; platform.cpp
// puts the operations into the core's tables.
#ifndef QUENDRAL_HOSTS_WIN_INTERNAL_H
#define QUENDRAL_HOSTS_WIN_INTERNAL_H

#include <windows.h>

#include <cstddef>

#include "../hooks.h"
#include "../platform.h"
#include "os_calls.h"

namespace platform {

// error.cpp: the system's text for a Win32 error code, into `err`.
void describe(DWORD code, sys_error *err);
// describe(GetLastError()) and -1, or FILE_FAILED.
int fail(sys_error *err);
file_status failed(sys_error *err);
void say(const char *text, sys_error *err);

inline qh_file *as_file(HANDLE handle) {
    return static_cast<qh_file *>(handle);
}
inline HANDLE as_handle(qh_file *file) {
    return static_cast<HANDLE>(file);
}

inline const os_calls &calls() {
    return *s_hooks.os;
}

// path.cpp
const char *default_path();
// The hosts file of a system whose system folder is `system_dir` (as
// GetSystemDirectoryA gives it; "" when unknown): the documented constant
// on a standard installation, so that messages read the same everywhere,
// else inside that folder. May fill `room` (`size` bytes).
const char *hosts_path_in(const char *system_dir, char *room, std::size_t size);
int resolve_target(const char *path, char *target, std::size_t size, sys_error *err);

// file.cpp
// Errors of a file that another process holds open: worth waiting for.
bool held_elsewhere(DWORD code);
// Renames the open file `handle` to `target`, replacing what is there.
file_status rename_open_file(HANDLE handle, const char *target, sys_error *err);
// Marks the open file for deletion and closes it.
void delete_open_file(HANDLE handle);
file_status open_current(const char *path, qh_file **file, sys_error *err);
file_status probe(const char *path, sys_error *err);
file_status file_identity(const char *path, file_id *id, sys_error *err);
int write_all(qh_file *file, const void *data, std::size_t size, sys_error *err);
int sync(qh_file *file, sys_error *err);
long long read_some(qh_file *file, void *data, std::size_t size, sys_error *err);
file_status replace(qh_file *file, const char *tmp, const char *target, sys_error *err);
void close(qh_file *file);

// clock.cpp
long long clock_ms();
void sleep_ms(int ms);

// process.cpp: runs ipconfig.exe /flushdns: its exit code, or -1 when it
// cannot be started.
int run_ipconfig();

// resolver.cpp
resolver_result resolver_flush(unsigned long *code);
command_result run_fallback(int *rc);

}  // namespace platform

#endif
