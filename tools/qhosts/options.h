// The command line split into global options and the words left for the
// command.
#ifndef QHOSTS_OPTIONS_H
#define QHOSTS_OPTIONS_H

#include <string>
#include <vector>

// A command-line word left over after the global options are taken out.
// Words after "--" are literal even when they start with a dash.
struct word {
    std::string text;
    bool is_option;
};

struct options {
    const char *file = nullptr;
    bool dry_run = false;
    bool flush = false;
    bool backup = false;
    bool help = false;
    bool version = false;
    std::vector<word> words;
};

// Global options are accepted anywhere before "--" so that, for example,
// "qhosts disable web.lan --dry-run" works as well as the prefix form.
bool parse_options(int argc, char **argv, options &opts, std::string &error);

// A command's own arguments: its positional words and the flags it knows.
struct command_arguments {
    std::vector<std::string> positional;
    std::vector<std::string> flags;

    bool has(const char *flag) const;
};

// Splits a command's words; a flag not among `known` (null-terminated list)
// is an error naming it.
bool split_arguments(const std::vector<word> &args, const char *const *known,
                     command_arguments &out, std::string &error);

#endif
