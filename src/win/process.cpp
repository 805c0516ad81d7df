// Starting the system's own programs, from the system directory only.
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace platform {

// By its full path in the system directory, without a window and with its
// output sent to NUL.
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

}  // namespace platform
