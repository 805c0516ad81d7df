// The temporary file as the lock of a save, by the rules in save_lock.h.
#include "save_lock.h"

#include <cstdio>

namespace platform {

namespace {

// Shared for reading alone: while the save runs, no one else can write,
// delete or rename its temporary file, and once it is renamed into place a
// load can open it at once, without waiting for the save to close it. A
// reparse point is opened as itself, never followed.
HANDLE create_new(const char *name) {
    return CreateFileA(name, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Whether `name` is a pipe or a device rather than a disk file, as a FIFO
// that the host system made reads under wine. Opened for its attributes
// alone, never followed.
bool is_pipe_or_device(const char *name) {
    HANDLE handle = CreateFileA(
        name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

// Takes the name of a PATH.tmp that no save holds open (see save_lock.h).
// A folder, a read-only file, a pipe or a device there cannot be renamed
// over: the error names it rather than the system's "access denied", which
// would read as another save at work.
file_status take_over_stale(const char *tmp, qh_file **file, sys_error *err) {
    if (is_pipe_or_device(tmp)) {
        std::snprintf(err->text, sizeof err->text, "%s is a pipe or a device", tmp);
        return FILE_FAILED;
    }
    DWORD attributes = GetFileAttributesA(tmp);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        std::snprintf(err->text, sizeof err->text, "%s is %s", tmp,
                      (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "a directory" : "read-only");
        return FILE_FAILED;
    }
    char own[k_temp_path_size + 48];
    std::snprintf(own, sizeof own, "%s.%lu-%llu", tmp, GetCurrentProcessId(),
                  static_cast<unsigned long long>(GetTickCount64()));
    HANDLE handle = create_new(own);
    if (handle == INVALID_HANDLE_VALUE)
        return failed(err);
    file_status status = rename_open_file(handle, tmp, err);
    if (status != FILE_OK) {
        delete_open_file(handle);
        return status;
    }
    *file = as_file(handle);
    return FILE_OK;
}

}  // namespace

file_status create_temp(const char *tmp, const char *, qh_file **file, sys_error *err) {
    HANDLE handle = create_new(tmp);
    if (handle != INVALID_HANDLE_VALUE) {
        *file = as_file(handle);
        return FILE_OK;
    }
    DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
        describe(code, err);
        return FILE_FAILED;
    }
    return take_over_stale(tmp, file, err);
}

void discard(qh_file *file, const char *) {
    delete_open_file(as_handle(file));
}

}  // namespace platform
