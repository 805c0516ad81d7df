// Windows platform layer: the system hosts path, CreateFileA's exclusive
// probe, a rename through the open temporary file as the one-step replace,
// and dnsapi.dll / ipconfig.exe for the resolver cache, both taken from the
// system directory only.
#include "platform_win.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "../platform.h"

namespace {

void describe(DWORD code, sys_error *err) {
    DWORD len = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               code, 0, err->text, sizeof err->text, nullptr);
    while (len > 0 && (err->text[len - 1] == '\r' || err->text[len - 1] == '\n' ||
                       err->text[len - 1] == ' ' || err->text[len - 1] == '.'))
        --len;
    if (len == 0)
        std::snprintf(err->text, sizeof err->text, "Win32 error %lu", code);
    else
        err->text[len] = '\0';
}

int fail(sys_error *err) {
    describe(GetLastError(), err);
    return -1;
}

void say(const char *text, sys_error *err) {
    std::snprintf(err->text, sizeof err->text, "%s", text);
}

const char *default_path() {
    static char room[MAX_PATH + 32];
    static const char *chosen = nullptr;
    if (chosen == nullptr) {
        char dir[MAX_PATH];
        UINT len = GetSystemDirectoryA(dir, sizeof dir);
        chosen = hosts_path_in(len > 0 && len < sizeof dir ? dir : "", room, sizeof room);
    }
    return chosen;
}

// Drops the long-path prefix that GetFinalPathNameByHandleA puts before a
// drive letter or, as UNC, before a server name.
const char *without_long_prefix(const char *path, char *room, std::size_t size) {
    if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0) {
        std::snprintf(room, size, "\\\\%s", path + 8);
        return room;
    }
    return std::strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path;
}

// Opens the file at `path` (following a symbolic link) only to look at it:
// a folder, device or pipe is refused, and a link is replaced by its target.
int resolve_target(const char *path, char *target, std::size_t size, sys_error *err) {
    if (std::snprintf(target, size, "%s", path) >= static_cast<int>(size)) {
        describe(ERROR_FILENAME_EXCED_RANGE, err);
        return -1;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;  // absent, or a failure that the save's own steps report
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? fail(err) : 0;
    BY_HANDLE_FILE_INFORMATION info;
    bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                   GetFileInformationByHandle(handle, &info) &&
                   !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    char final_path[PATH_ROOM];
    DWORD len = 0;
    if (regular && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        len = GetFinalPathNameByHandleA(handle, final_path, sizeof final_path,
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (!regular) {
        say("not a regular file", err);
        return -1;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    if (len == 0 || len >= sizeof final_path)
        return fail(err);
    char room[PATH_ROOM];
    if (std::snprintf(target, size, "%s", without_long_prefix(final_path, room, sizeof room)) >=
        static_cast<int>(size)) {
        describe(ERROR_FILENAME_EXCED_RANGE, err);
        return -1;
    }
    return 0;
}

qh_file *as_file(HANDLE handle) {
    return static_cast<qh_file *>(handle);
}
HANDLE as_handle(qh_file *file) {
    return static_cast<HANDLE>(file);
}

const std::size_t NAME_SIZE = 8400;

file_status failed(sys_error *err) {
    describe(GetLastError(), err);
    return FILE_FAILED;
}

// Errors of a file that another process holds open: worth waiting for.
bool held_elsewhere(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
           code == ERROR_LOCK_VIOLATION;
}

// Share mode 0: while the save runs, no one else can open, delete or
// rename its temporary file. A reparse point is opened as itself, never
// followed.
HANDLE create_new(const char *name) {
    return CreateFileA(name, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Renames the open file `handle` to `target`, replacing what is there: the
// name itself, whatever it is (a symlink or hard link is replaced, its
// target left alone). Fails while another process holds `target` open.
file_status rename_open_file(HANDLE handle, const char *target, sys_error *err) {
    wchar_t wide[NAME_SIZE];
    wchar_t full[NAME_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, target, -1, wide, NAME_SIZE) == 0)
        return failed(err);
    DWORD len = GetFullPathNameW(wide, NAME_SIZE, full, nullptr);
    if (len == 0 || len >= NAME_SIZE)
        return failed(err);
    // The rename wants a native path: \??\C:\dir\name or \??\UNC\server\share\name.
    const wchar_t *rest = full;
    const wchar_t *prefix = L"\\??\\";
    if (std::wcsncmp(full, L"\\\\?\\", 4) == 0) {
        rest = full + 4;
    } else if (std::wcsncmp(full, L"\\\\", 2) == 0) {
        rest = full + 2;
        prefix = L"\\??\\UNC\\";
    }
    const std::size_t prefix_len = std::wcslen(prefix);
    const std::size_t rest_len = std::wcslen(rest);
    alignas(FILE_RENAME_INFO) unsigned char
        buf[sizeof(FILE_RENAME_INFO) + (NAME_SIZE + 8) * sizeof(wchar_t)];
    auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buf);
    std::memset(info, 0, sizeof *info);
    info->ReplaceIfExists = TRUE;
    std::wmemcpy(info->FileName, prefix, prefix_len);
    std::wmemcpy(info->FileName + prefix_len, rest, rest_len);
    info->FileName[prefix_len + rest_len] = L'\0';  // wine reads up to it, past the length
    info->FileNameLength = static_cast<DWORD>((prefix_len + rest_len) * sizeof(wchar_t));
    DWORD size = static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + info->FileNameLength);
    if (SetFileInformationByHandle(handle, FileRenameInfo, info, size))
        return FILE_OK;
    DWORD code = GetLastError();
    describe(code, err);
    return held_elsewhere(code) ? FILE_BUSY : FILE_FAILED;
}

void delete_open_file(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handle);
}

// A PATH.tmp that exists while no save holds it open is left over from a
// killed save, or planted. It is never opened nor deleted by its name (wine
// deletes a symlink's target, not the link): a new file made under a name
// of this process's own is renamed over it, which replaces the name alone,
// and fails while another save holds the file open.
file_status take_over_stale(const char *tmp, qh_file **file, sys_error *err) {
    DWORD attributes = GetFileAttributesA(tmp);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        describe(ERROR_ACCESS_DENIED, err);
        return FILE_FAILED;
    }
    char own[NAME_SIZE];
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

// The save holds its temporary file open from its creation until after the
// replace, which renames it through that handle: there is no moment in
// which another save could take it for a left-over file.
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

int commit(qh_file *file, sys_error *err) {
    return FlushFileBuffers(as_handle(file)) ? 0 : fail(err);
}

void discard(qh_file *file, const char *) {
    delete_open_file(as_handle(file));
}

// Reads the way a well-behaved reader does, shutting nobody out. A folder
// fails to open; a device (NUL, CON) or a pipe opens but is no disk file,
// and reading it could wait forever.
file_status open_current(const char *path, qh_file **file, sys_error *err) {
    HANDLE handle =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        say("not a regular file", err);
        return FILE_FAILED;
    }
    describe(code, err);
    return code == ERROR_SHARING_VIOLATION ? FILE_BUSY : FILE_FAILED;
}

long long read_some(qh_file *file, void *data, std::size_t size, sys_error *err) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(as_handle(file), data, chunk, &got, nullptr))
        return fail(err);
    return got;
}

void close_file(qh_file *file) {
    CloseHandle(as_handle(file));
}

// Share mode 0 admits no other handle: the probe succeeds only when the file
// is writable for us and nobody else has it open. The read-only attribute is
// checked on its own so that the rule holds however the file system maps it
// to access rights (wine, for one, lets root write such a file); a read-only
// file fails at once, a file held open elsewhere is worth waiting for.
file_status probe(const char *path, sys_error *err) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        describe(ERROR_ACCESS_DENIED, err);
        return FILE_FAILED;
    }
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    file_status status = rename_open_file(as_handle(file), target, err);
    if (status == FILE_OK)
        FlushFileBuffers(as_handle(file));
    return status;
}

// The performance counter, not GetTickCount64: its 15.6 ms ticks would let a
// wait of "about a second" end early by a tick.
long long clock_ms() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return count.QuadPart / frequency.QuadPart * 1000 +
           count.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}

void sleep_ms(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

using flush_fn = BOOL(WINAPI *)(void);

resolver_result resolver_flush(unsigned long *code) {
    HMODULE dnsapi = LoadLibraryExA("dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dnsapi == nullptr)
        return RESOLVER_LOAD_FAILED;
    FARPROC proc = GetProcAddress(dnsapi, "DnsFlushResolverCache");
    if (proc == nullptr)
        return RESOLVER_MISSING;
    auto flush = reinterpret_cast<flush_fn>(reinterpret_cast<void (*)(void)>(proc));
    if (flush())
        return RESOLVER_FLUSHED;
    *code = GetLastError();
    return RESOLVER_FAILED;
}

// Runs ipconfig.exe by its full path in the system directory, without a
// window and with its output sent to NUL; returns its exit code, or -1 when
// it cannot be started.
int run_ipconfig() {
    char dir[MAX_PATH];
    UINT len = GetSystemDirectoryA(dir, sizeof dir);
    if (len == 0 || len >= sizeof dir)
        return -1;
    char program[MAX_PATH + 32];
    char command[2 * MAX_PATH + 64];
    std::snprintf(program, sizeof program, "%s\\ipconfig.exe", dir);
    std::snprintf(command, sizeof command, "\"%s\" /flushdns", program);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE null_out = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
    if (null_out == INVALID_HANDLE_VALUE)
        return -1;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_out;
    startup.hStdOutput = null_out;
    startup.hStdError = null_out;
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(program, command, nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                  nullptr, nullptr, &startup, &process);
    CloseHandle(null_out);
    if (!started)
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}

command_result run_fallback(int *rc) {
    *rc = run_ipconfig();
    return COMMAND_RAN;
}

}  // namespace

const char *hosts_path_in(const char *system_dir, char *room, std::size_t size) {
    static const char standard_dir[] = "C:\\Windows\\System32";
    static const char standard_path[] = "C:\\Windows\\System32\\drivers\\etc\\hosts";
    if (system_dir[0] == '\0' || _stricmp(system_dir, standard_dir) == 0)
        return standard_path;
    int len = std::snprintf(room, size, "%s\\drivers\\etc\\hosts", system_dir);
    return len > 0 && static_cast<std::size_t>(len) < size ? room : standard_path;
}

const qh_platform native_platform = {
    .default_path = default_path,
    .resolve_target = resolve_target,
    .create_temp = create_temp,
    .write_all = write_all,
    .commit = commit,
    .discard = discard,
    .open_current = open_current,
    .read_some = read_some,
    .close_file = close_file,
    .probe = probe,
    .replace = replace,
    .flush_folder = nullptr,  // the rename through the handle is flushed by the replace itself
    .clock_ms = clock_ms,
    .sleep_ms = sleep_ms,
    .resolver_library = "dnsapi.dll",
    .resolver_lookup = "DnsFlushResolverCache",
    .resolver_call = "DnsFlushResolverCache",
    .resolver_code_kind = "Win32 error",
    .resolver_service = "the DNS Client service",
    .fallback_command = "ipconfig /flushdns",
    .cache_daemon_command = nullptr,
    .resolver_flush = resolver_flush,
    .run_fallback = run_fallback,
    .flush_cache_daemon = nullptr,
};
