// The commands of qhosts: one table from which the usage text, each
// command's help, the check of its options and words, and the dispatch all
// come.
#ifndef QHOSTS_COMMANDS_H
#define QHOSTS_COMMANDS_H

#include <span>
#include <string>
#include <vector>

#include "options.h"

struct command;

// One run of a command: its options and its words.
struct invocation {
    const options &opts;
    const command &cmd;
    const std::vector<std::string> &words;
};

struct command {
    const char *name;
    const char *arguments;  // as the usage line shows them
    const char *summary;    // one line for the command list
    const char *details;    // the rest of the command's help
    const char *example;
    std::span<const option_id> accepts;  // besides --file, --quiet and --help
    int min_words;
    int max_words;  // -1: no limit
    int (*handler)(const invocation &call);
};

// Runs the whole command line; returns the exit code.
int run(int argc, char **argv);

#endif
