// The temporary file as the lock of a save, by the rules in save_lock.h.
#include "save_lock.h"

#include <cwchar>

namespace platform {

namespace {

// Share mode 0: while the save runs, no one else can open, delete or
// rename its temporary file. A reparse point is opened as itself, never
// followed. The file is born with the security the old file had, so that
// it never exists with another; an owner this process may not give is
// left out (setting another owner needs the restore privilege, which the
// library does not take), and the system's default owner applies.
HANDLE create_new(const wide_path &name, kept_metadata &kept) {
    auto create = [&name](SECURITY_ATTRIBUTES *security) {
        return CreateFileW(name.text, GENERIC_WRITE | DELETE, 0, security, CREATE_NEW,
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

// Takes the name of a PATH.tmp that no save holds open (see save_lock.h).
file_status take_over_stale(const wide_path &tmp, kept_metadata &kept, HANDLE *taken,
                            sys_error *err) {
    DWORD attributes = GetFileAttributesW(tmp.text);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        describe(ERROR_ACCESS_DENIED, err);
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
file_status create_temp(const char *, const char *target, qh_file **file, sys_error *err) {
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
        file_status status = take_over_stale(tmp, kept, &handle, err);
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
