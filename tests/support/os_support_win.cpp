#include "os_support.h"

#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

std::string program_dir() {
    char path[MAX_PATH];
    DWORD len = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, len);
    return full.substr(0, full.find_last_of("\\/"));
}

std::string library_file() { return program_dir() + "\\quendral-hosts.dll"; }

std::string program_file(const std::string &name) { return program_dir() + "\\" + name + ".exe"; }

void *open_library(const std::string &path) {
    return reinterpret_cast<void *>(LoadLibraryA(path.c_str()));
}

void *find_symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void close_library(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }

struct child_process {
    PROCESS_INFORMATION info;
};

child_process *start_child(const std::string &program, const std::vector<std::string> &args) {
    std::string command = "\"" + program + "\"";
    for (const std::string &arg : args)
        command += " \"" + arg + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    auto *child = new child_process{};
    if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &child->info)) {
        delete child;
        return nullptr;
    }
    return child;
}

void kill_child(child_process *child) { TerminateProcess(child->info.hProcess, 137); }

void wait_child(child_process *child) {
    WaitForSingleObject(child->info.hProcess, INFINITE);
    CloseHandle(child->info.hThread);
    CloseHandle(child->info.hProcess);
    delete child;
}

void sleep_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

std::size_t resident_bytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.WorkingSetSize;
}
