// Windows platform layer: the system hosts path, CreateFileA's exclusive
// probe, MoveFileExA as the one-step replace, and dnsapi.dll / ipconfig.exe
// for the resolver cache, both taken from the system directory only.
#include <cstdio>
#include <cstring>

#include <windows.h>

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

qh_file *as_file(HANDLE handle) { return static_cast<qh_file *>(handle); }
HANDLE as_handle(qh_file *file) { return static_cast<HANDLE>(file); }

qh_file *create_temp(const char *tmp, const char *, sys_error *err) {
    HANDLE handle = CreateFileA(tmp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        fail(err);
        return nullptr;
    }
    return as_file(handle);
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
    int rc = FlushFileBuffers(as_handle(file)) ? 0 : fail(err);
    if (!CloseHandle(as_handle(file)) && rc == 0)
        rc = fail(err);
    return rc;
}

void abandon(qh_file *file) { CloseHandle(as_handle(file)); }

int remove_file(const char *path) { return DeleteFileA(path) ? 0 : -1; }

// Share mode 0 admits no other handle: the probe succeeds only when the file
// is writable for us and nobody else has it open. The read-only attribute is
// checked on its own so that the rule holds however the file system maps it
// to access rights (wine, for one, lets root write such a file).
probe_result probe(const char *path, sys_error *err) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        describe(ERROR_ACCESS_DENIED, err);
        return PROBE_BLOCKED;
    }
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return PROBE_OPENED;
    }
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return PROBE_ABSENT;
    describe(code, err);
    return PROBE_BLOCKED;
}

int replace(const char *tmp, const char *target, sys_error *err) {
    if (MoveFileExA(tmp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return fail(err);
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

const qh_platform native_platform = {
    "C:\\Windows\\System32\\drivers\\etc\\hosts",
    create_temp,
    write_all,
    commit,
    abandon,
    remove_file,
    probe,
    replace,
    nullptr,  // MOVEFILE_WRITE_THROUGH makes the replace durable
    "dnsapi.dll",
    "DnsFlushResolverCache",
    "DnsFlushResolverCache",
    "Win32 error",
    "the DNS Client service",
    "ipconfig /flushdns",
    nullptr,
    resolver_flush,
    run_fallback,
    nullptr,
};
