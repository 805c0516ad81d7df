// The handlers that the command table dispatches to, by job:
// read_commands.cpp (list, check, find), edit_commands.cpp (add, set,
// enable, disable, remove, import) and backup_commands.cpp (backups,
// restore). Each returns the exit code.
#ifndef QHOSTS_HANDLERS_H
#define QHOSTS_HANDLERS_H

#include <string>
#include <vector>

#include "commands.h"
#include "targets.h"

int list_command(const invocation &call);
int check_command(const invocation &call);
int find_command(const invocation &call);
int add_command(const invocation &call);
int set_command(const invocation &call);
int enable_command(const invocation &call);
int disable_command(const invocation &call);
int remove_command(const invocation &call);
int import_command(const invocation &call);
int backups_command(const invocation &call);
int restore_command(const invocation &call);

// Where the system's resolver reads its hosts file from another folder than
// the system file worked on here, edits of that file change nothing it
// sees: one line says so. True when it was said.
bool warn_of_resolver_folder(const options &opts);

// The TARGET words and --from files of a command, read into targets; the
// library is pointed back at the hosts file afterwards. Returns k_exit_ok
// or the exit code after reporting.
int read_targets(const invocation &call, std::vector<target> &targets);

#endif
