// Plain file operations of the Windows layer, and a rename through the
// open temporary file as the one-step replace.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "internal.h"

namespace platform {

bool held_elsewhere(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
           code == ERROR_LOCK_VIOLATION;
}

// Replaces the name itself, whatever it is (a symlink or hard link is replaced, its
// target left alone). Fails while another process holds `target` open.
file_status rename_open_file(HANDLE handle, const wide_path &target, sys_error *err) {
    // The rename wants a native path: \??\C:\dir\name or \??\UNC\server\share\name,
    // which is the long form with its second character changed.
    alignas(FILE_RENAME_INFO) unsigned char
        buf[sizeof(FILE_RENAME_INFO) + k_wide_path_size * sizeof(wchar_t)];
    auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buf);
    std::memset(info, 0, sizeof *info);
    info->ReplaceIfExists = TRUE;
    std::wmemcpy(info->FileName, target.text, target.length + 1);  // wine reads up to the NUL
    info->FileName[1] = L'?';
    info->FileNameLength = static_cast<DWORD>(target.length * sizeof(wchar_t));
    DWORD size = static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + info->FileNameLength);
    if (calls().set_file_information(handle, FileRenameInfo, info, size))
        return FILE_OK;
    DWORD code = GetLastError();
    describe(code, err);
    SetLastError(code);  // for a caller that words the refusal
    return held_elsewhere(code) ? FILE_BUSY : FILE_FAILED;
}

file_status rename_open_file(HANDLE handle, const char *target, sys_error *err) {
    wide_path wide;
    return to_wide_path(target, &wide, err) ? rename_open_file(handle, wide, err) : FILE_FAILED;
}

void delete_open_file(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    calls().set_file_information(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handle);
}

int write_all(qh_file *file, const void *data, std::size_t size, sys_error *err) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(as_handle(file), p, chunk, &written, nullptr))
            return fail(err);
        if (written == 0) {
            describe(ERROR_WRITE_FAULT, err);
            return -1;
        }
        p += written;
        size -= written;
    }
    return 0;
}

int sync(qh_file *file, sys_error *err) {
    return FlushFileBuffers(as_handle(file)) ? 0 : fail(err);
}

// Reads the way a well-behaved reader does, shutting nobody out. A folder
// fails to open; a device (NUL, CON) or a pipe opens but is no disk file,
// and reading it could wait forever.
file_status open_current(const char *path, qh_file **file, sys_error *err) {
    wide_path wide;
    if (!to_wide_path(path, &wide, err))
        return FILE_FAILED;
    HANDLE handle =
        CreateFileW(wide.text, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        if (GetFileType(handle) == FILE_TYPE_DISK) {
            *file = as_file(handle);
            return FILE_OK;
        }
        CloseHandle(handle);
        say("not a regular file", err);
        return FILE_FAILED;
    }
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return FILE_ABSENT;
    DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        say("not a regular file", err);
        return FILE_FAILED;
    }
    describe(code, err);
    return code == ERROR_SHARING_VIOLATION ? FILE_BUSY : FILE_FAILED;
}

namespace {

// winerror.h's ERROR_VIRUS_INFECTED and ERROR_VIRUS_DELETED, which MinGW's
// headers lack: a scanner's verdict on the new content.
const DWORD k_error_virus_infected = 225;
const DWORD k_error_virus_deleted = 226;

// The exclusive probe has shown that nobody holds the file and that our
// rights allow the replace; a refusal now comes from a program that watches
// the file, most often an antivirus scanner (Defender guards the hosts file).
file_status rename_into_place(HANDLE handle, const char *target, sys_error *err) {
    file_status status = rename_open_file(handle, target, err);
    const DWORD code = GetLastError();
    if (status != FILE_OK && (code == ERROR_ACCESS_DENIED || code == k_error_virus_infected ||
                              code == k_error_virus_deleted)) {
        sys_error why = *err;
        std::snprintf(err->text, sizeof err->text,
                      "%s; another program, often an antivirus scanner, refused the change",
                      why.text);
    }
    return status;
}

}  // namespace

long long read_some(qh_file *file, void *data, std::size_t size, sys_error *err) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(as_handle(file), data, chunk, &got, nullptr))
        return fail(err);
    return got;
}

void close(qh_file *file) {
    CloseHandle(as_handle(file));
}

// Share mode 0 admits no other handle: the probe succeeds only when the file
// is writable for us and nobody else has it open. It asks for DELETE as
// well, which the replace needs, so that a refusal the rename meets after it
// comes from another program, not from our rights. The read-only attribute is
// checked on its own so that the rule holds however the file system maps it
// to access rights (wine, for one, lets root write such a file); a read-only
// file fails at once, a file held open elsewhere is worth waiting for.
file_status probe(const char *path, sys_error *err) {
    wide_path wide;
    if (!to_wide_path(path, &wide, err))
        return FILE_FAILED;
    DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        describe(ERROR_ACCESS_DENIED, err);
        return FILE_FAILED;
    }
    HANDLE handle = CreateFileW(wide.text, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return FILE_OK;
    }
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return FILE_ABSENT;
    describe(code, err);
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ? FILE_BUSY
                                                                           : FILE_FAILED;
}

// The flush after the rename does what MOVEFILE_WRITE_THROUGH would: the
// save reports success only once the new name is on the disk.
file_status replace(qh_file *file, const char *, const char *target, sys_error *err) {
    file_status status = rename_into_place(as_handle(file), target, err);
    if (status == FILE_OK && !calls().flush_file_buffers(as_handle(file))) {
        fail(err);
        return FILE_UNFLUSHED;
    }
    return status;
}

// Opened for its attributes alone and shared every way, so that looking
// never stands in anybody's way; a folder opens too.
file_status file_identity(const char *path, file_id *id, sys_error *err) {
    wide_path wide;
    if (!to_wide_path(path, &wide, err))
        return FILE_FAILED;
    HANDLE handle = CreateFileW(wide.text, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return FILE_ABSENT;
        describe(code, err);
        return FILE_FAILED;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info);
    if (known)
        *id = {info.dwVolumeSerialNumber,
               static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
    else
        fail(err);
    CloseHandle(handle);
    return known ? FILE_OK : FILE_FAILED;
}

}  // namespace platform
