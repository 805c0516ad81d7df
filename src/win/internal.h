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

// Room for any path the library takes, made absolute (a relative path with
// a current folder of up to k_path_size characters), with its long prefix.
constexpr std::size_t k_wide_path_size = 2 * k_path_size + 16;
// What a save adds to a path for its temporary files: ".tmp", and the
// ".PID-TICKS" of a name of its own (save_lock.cpp).
constexpr std::size_t k_wide_suffix_room = 48;

// A path as the W calls take it: the caller's text converted once, with the
// code page of the process's file APIs, made absolute and given the \\?\ (or
// \\?\UNC\) prefix, so that no MAX_PATH limit applies. Every file call of
// this layer works on one.
struct wide_path {
    wchar_t text[k_wide_path_size];
    std::size_t length;
};
// Converts `path`; with k_wide_suffix_room characters to spare, so that a
// path that converts can always take the suffixes of a save. False, with the
// reason in `err`, when it cannot be converted.
bool to_wide_path(const char *path, wide_path *wide, sys_error *err);
// Appends `suffix` (which fits in k_wide_suffix_room).
void append(wide_path *wide, const wchar_t *suffix);
// A wide path back to text in the file APIs' code page, without the long
// prefix; false when a character has no form in that code page.
bool to_text_path(const wchar_t *path, char *text, std::size_t size, sys_error *err);

// file.cpp
// Errors of a file that another process holds open: worth waiting for.
bool held_elsewhere(DWORD code);
// Renames the open file `handle` to `target`, replacing what is there.
file_status rename_open_file(HANDLE handle, const wide_path &target, sys_error *err);
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

// metadata.cpp: what a replaced file keeps beyond its bytes, read from the
// old file before the new one is created, and given to the new one.
class kept_metadata {
public:
    kept_metadata() = default;
    ~kept_metadata();
    kept_metadata(const kept_metadata &) = delete;
    kept_metadata &operator=(const kept_metadata &) = delete;

    // Reads the DACL, owner, group and attributes of the file at `target`:
    // FILE_OK, FILE_ABSENT (nothing to keep), or FILE_FAILED.
    file_status read(const wide_path &target, sys_error *err);
    // The security to create the new file with: the old DACL, and, with
    // `with_owner`, the old owner and group; null when there is no old file.
    SECURITY_ATTRIBUTES *security(bool with_owner);
    // Gives the new, open file the old one's attributes.
    int apply_attributes(HANDLE file, sys_error *err) const;

private:
    PSECURITY_DESCRIPTOR old_ = nullptr;  // as GetSecurityInfo gave it
    PSID owner_ = nullptr;                // inside old_
    PSID group_ = nullptr;
    PACL explicit_dacl_ = nullptr;  // its DACL without inherited entries
    SECURITY_DESCRIPTOR made_{};
    SECURITY_ATTRIBUTES attributes_{};
    DWORD file_attributes_ = 0;
};

// clock.cpp
long long clock_ms();
void sleep_ms(int ms);

// process.cpp: runs the fallback program with "/flushdns", inheriting
// no handle but its NUL input and output: COMMAND_RAN with its exit code
// (-1 when it cannot be started), or COMMAND_TIMED_OUT.
command_result run_flush_program(int *rc);
bool system_ipconfig(wchar_t *room, std::size_t size);

// resolver.cpp
resolver_result resolver_flush(unsigned long *code);
command_result run_fallback(int *rc);

}  // namespace platform

#endif
