// Starting the system's own programs, from the system directory only.
#include <cwchar>

#include "internal.h"

namespace platform {

namespace {

// Starts `program` with `command`, its input and output on NUL. The NUL
// handle is the only one it inherits: a handle list restricts inheritance
// to it, so that none of the host's inheritable handles (sockets, pipes,
// files) leaks into the child, however the host made them.
bool start_quietly(const wchar_t *program, wchar_t *command, PROCESS_INFORMATION *process) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE null_out =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    if (null_out == INVALID_HANDLE_VALUE)
        return false;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    alignas(void *) unsigned char room[256];
    auto *list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(room);
    bool started = false;
    if (size <= sizeof room && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &null_out,
                                      sizeof null_out, nullptr, nullptr)) {
            STARTUPINFOEXW startup = {};
            startup.StartupInfo.cb = sizeof startup;
            startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
            startup.StartupInfo.hStdInput = null_out;
            startup.StartupInfo.hStdOutput = null_out;
            startup.StartupInfo.hStdError = null_out;
            startup.lpAttributeList = list;
            started = CreateProcessW(program, command, nullptr, nullptr, TRUE,
                                     CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                     nullptr, &startup.StartupInfo, process) != 0;
        }
        DeleteProcThreadAttributeList(list);
    }
    CloseHandle(null_out);
    return started;
}

}  // namespace

bool system_ipconfig(wchar_t *room, std::size_t size) {
    wchar_t dir[MAX_PATH];
    UINT len = GetSystemDirectoryW(dir, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return false;
    int written = std::swprintf(room, size, L"%ls\\ipconfig.exe", dir);
    return written > 0 && static_cast<std::size_t>(written) < size;
}

// By its full path, without a window. A program that does not end within
// the wait is left to finish: killing ipconfig half-way through a flush
// would gain nothing.
command_result run_flush_program(int *rc) {
    wchar_t program[MAX_PATH + 32];
    wchar_t command[MAX_PATH + 64];
    *rc = -1;
    if (!calls().fallback_program(program, MAX_PATH + 32))
        return COMMAND_RAN;
    std::swprintf(command, MAX_PATH + 64, L"\"%ls\" /flushdns", program);
    PROCESS_INFORMATION process;
    if (!start_quietly(program, command, &process))
        return COMMAND_RAN;
    CloseHandle(process.hThread);
    const DWORD wait_ms = calls().fallback_wait_ms;
    const DWORD waited = WaitForSingleObject(process.hProcess, wait_ms);
    DWORD exit_code = 1;
    const bool ended = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    if (waited == WAIT_TIMEOUT) {
        *rc = static_cast<int>(wait_ms);
        return COMMAND_TIMED_OUT;
    }
    *rc = ended ? static_cast<int>(exit_code) : -1;
    return COMMAND_RAN;
}

}  // namespace platform
