#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <chrono>

#include "os_support.h"

std::string program_dir() {
    char path[MAX_PATH];
    DWORD len = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, len);
    return full.substr(0, full.find_last_of("\\/"));
}

std::string library_file() {
    return program_dir() + "\\quendral-hosts.dll";
}

std::string program_file(const std::string &name) {
    return program_dir() + "\\" + name + ".exe";
}

void *open_library(const std::string &path) {
    return reinterpret_cast<void *>(LoadLibraryA(path.c_str()));
}

void *find_symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void close_library(void *library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

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

void kill_child(child_process *child) {
    TerminateProcess(child->info.hProcess, 137);
}

void wait_child(child_process *child) {
    WaitForSingleObject(child->info.hProcess, INFINITE);
    CloseHandle(child->info.hThread);
    CloseHandle(child->info.hProcess);
    delete child;
}

void sleep_ms(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

// Windows makes hard links for anyone. Under wine, which offers no symbolic
// link through the Windows calls, the system's own ln makes one; a program
// of the host system runs detached, so its result is awaited by name.
bool plant_link(const std::string &target, const std::string &link, bool symbolic) {
    if (!symbolic)
        return CreateHardLinkA(link.c_str(), target.c_str(), nullptr) != 0;
    using unix_name_fn = char *(CDECL *)(const WCHAR *);
    auto unix_name = reinterpret_cast<unix_name_fn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr)
        return CreateSymbolicLinkA(link.c_str(), target.c_str(),
                                   SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
    std::wstring wide(link.begin(), link.end());
    char *unix_link = unix_name(wide.c_str());
    if (unix_link == nullptr)
        return false;
    std::string name = target.substr(target.find_last_of("\\/") + 1);
    std::string command = "/bin/ln -s \"" + name + "\" \"" + unix_link + "\"";
    HeapFree(GetProcessHeap(), 0, unix_link);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        Sleep(5);
    }
    return true;
}

std::size_t resident_bytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.WorkingSetSize;
}
