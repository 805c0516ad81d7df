// The commands of qhosts: one table from which the usage text, the check of
// the command name and the dispatch all come.
#ifndef QHOSTS_COMMANDS_H
#define QHOSTS_COMMANDS_H

#include <vector>

#include "options.h"

// Which global options make sense with a command.
enum class command_kind {
    reads,    // list, check, find: load and print, never save
    edits,    // load, change, save: --dry-run, --backup and --flush apply
    flushes,  // the resolver cache only
};

struct command;

// One run of a command: the global options, the command and its own words.
struct invocation {
    const options &opts;
    const command &cmd;
    std::vector<word> args;
};

struct command {
    const char *name;
    const char *arguments;  // as shown in the usage text
    const char *summary;
    command_kind kind;
    int (*handler)(const invocation &call);
};

// Runs the whole command line; returns the exit code.
int run(int argc, char **argv);

#endif
