#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "os_support.h"

extern char **environ;

std::string program_dir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

std::string library_file() {
    return program_dir() + "/libquendral-hosts.so";
}

std::string program_file(const std::string &name) {
    return program_dir() + "/" + name;
}

void *open_library(const std::string &path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void *find_symbol(void *library, const char *name) {
    return dlsym(library, name);
}

void close_library(void *library) {
    dlclose(library);
}

struct child_process {
    pid_t pid;
};

child_process *start_child(const std::string &program, const std::vector<std::string> &args) {
    std::vector<char *> argv;
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    for (std::string &arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return nullptr;
    return new child_process{pid};
}

void kill_child(child_process *child) {
    kill(child->pid, SIGKILL);
}

void wait_child(child_process *child) {
    int status = 0;
    waitpid(child->pid, &status, 0);
    delete child;
}

void sleep_ms(int ms) {
    struct timespec delay = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&delay, nullptr);
}

bool plant_link(const std::string &target, const std::string &link, bool symbolic) {
    return (symbolic ? symlink(target.c_str(), link.c_str())
                     : ::link(target.c_str(), link.c_str())) == 0;
}

std::size_t resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t total_pages = 0;
    std::size_t resident_pages = 0;
    statm >> total_pages >> resident_pages;
    return resident_pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}
