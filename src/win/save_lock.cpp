// The temporary file as the lock of a save, by the rules in save_lock.h.
#include "save_lock.h"

#include <cstdio>
#include <cwchar>

namespace platform {

namespace {

// Shared for reading alone: while the save runs, no one else can write,
// delete or rename its temporary file, and once it is renamed into place a
// load can open it at once, without waiting for the save to close it. A
// reparse point is opened as itself, never followed. The file is born with the security the old
// file had, so that it never exists with another; an owner this process may not give is left out
// (setting another owner needs the restore privilege, which the library does not take), and the
// system's default owner applies.
HANDLE create_new(const wide_path &name, kept_metadata &kept) {
    auto create = [&name](SECURITY_ATTRIBUTES *security) {
        return CreateFileW(name.text, GENERIC_WRITE | DELETE, FILE_SHARE_READ, security, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    SECURITY_ATTRIBUTES *security = kept.security(true);
    HANDLE handle = create(security);
    const DWORD code = GetLastError();
    if (handle == INVALID_HANDLE_VALUE && security != nullptr && code != ERROR_FILE_EXISTS &&
        code != ERROR_ALREADY_EXISTS)
        handle = create(kept.security(false));
    return handle;
}

// Whether `name` is a pipe or a device rather than a disk file, as a FIFO
// that the host system made reads under wine. Opened for its attributes
// alone, never followed.
bool is_pipe_or_device(const wide_path &name) {
    HANDLE handle = CreateFileW(
        name.text, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

// Takes the name of a PATH.tmp that no save holds open (see save_lock.h).
// A folder, a read-only file, a pipe or a device there cannot be renamed
// over: the error names it (`shown` is the name as the caller gave it)
// rather than the system's "access denied", which would read as another
// save at work.
file_status take_over_stale(const char *shown, const wide_path &tmp, kept_metadata &kept,
                            HANDLE *taken, sys_error *err) {
    if (is_pipe_or_device(tmp)) {
        std::snprintf(err->text, sizeof err->text, "%s is a pipe or a device", shown);
        return FILE_FAILED;
    }
    DWORD attributes = GetFileAttributesW(tmp.text);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        std::snprintf(err->text, sizeof err->text, "%s is %s", shown,
                      (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "a directory" : "read-only");
        return FILE_FAILED;
    }
    wide_path own = tmp;
    wchar_t suffix[k_wide_suffix_room];
    std::swprintf(suffix, k_wide_suffix_room, L".%lu-%llu", GetCurrentProcessId(),
                  static_cast<unsigned long long>(GetTickCount64()));
    append(&own, suffix);
    HANDLE handle = create_new(own, kept);
    if (handle == INVALID_HANDLE_VALUE)
        return failed(err);
    file_status status = rename_open_file(handle, tmp, err);
    if (status != FILE_OK) {
        delete_open_file(handle);
        return status;
    }
    *taken = handle;
    return FILE_OK;
}

}  // namespace

// The temporary file's name is the converted target with ".tmp" (the `tmp`
// of the core is the same text with ".tmp"): the one conversion of the
// path, which leaves room for it whenever the path itself converts.
file_status create_temp(const char *shown_tmp, const char *target, qh_file **file, sys_error *err) {
    wide_path tmp;
    if (!to_wide_path(target, &tmp, err))
        return FILE_FAILED;
    kept_metadata kept;
    if (kept.read(tmp, err) == FILE_FAILED)
        return FILE_FAILED;
    append(&tmp, L".tmp");
    HANDLE handle = create_new(tmp, kept);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            describe(code, err);
            return FILE_FAILED;
        }
        file_status status = take_over_stale(shown_tmp, tmp, kept, &handle, err);
        if (status != FILE_OK)
            return status;
    }
    if (kept.apply_attributes(handle, err) != 0) {
        delete_open_file(handle);
        return FILE_FAILED;
    }
    *file = as_file(handle);
    return FILE_OK;
}

void discard(qh_file *file, const char *) {
    delete_open_file(as_handle(file));
}

}  // namespace platform
