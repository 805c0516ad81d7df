// The few test helpers that differ between operating systems.
#ifndef QH_OS_SUPPORT_H
#define QH_OS_SUPPORT_H

#include <cstddef>
#include <string>
#include <vector>

// The folder of the running test program; the library and helper programs
// are built into the same folder.
std::string program_dir();
std::string library_file();
std::string program_file(const std::string &name);

void *open_library(const std::string &path);
void *find_symbol(void *library, const char *name);
void close_library(void *library);

struct child_process;
child_process *start_child(const std::string &program, const std::vector<std::string> &args);
void kill_child(child_process *child);
// Waits for the child and releases it.
void wait_child(child_process *child);
void sleep_ms(int ms);

// Plants a symbolic or hard link named `link` to `target` (same folder),
// as someone out to make a save write through it would. False when this
// system will not make one here.
bool plant_link(const std::string &target, const std::string &link, bool symbolic);

// The memory the process holds in RAM now (resident set / working set).
std::size_t resident_bytes();

#endif
