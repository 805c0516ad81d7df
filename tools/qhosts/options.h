// The options of qhosts: one table that the parser, the per-command checks
// and the help text all read.
#ifndef QHOSTS_OPTIONS_H
#define QHOSTS_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

enum class option_id {
    file,
    dry_run,
    quiet,
    backup,
    keep_backups,
    flush,
    ignore_missing,
    help,
    version,
    json,
    format,
    enabled,
    disabled,
    exact,
    comment,
    from,
    original,
};

struct option_info {
    option_id id;
    const char *name;        // the long form, "--file"
    char letter;             // the short form's letter, or '\0'
    const char *value_name;  // what the option takes ("PATH"), or null for a switch
    const char *help;
};

const option_info &info_of(option_id id);

// "-f, --file PATH" as the help text shows an option.
std::string option_synopsis(const option_info &info);

// An option as the command line gave it, with its value.
struct given_option {
    option_id id;
    std::string spelling;  // as typed, for messages
    std::string value;
};

// The command line split into options and the other words. Options are
// accepted anywhere before "--"; words after it are taken literally.
struct command_line {
    std::vector<given_option> options;
    std::vector<std::string> words;
};

bool parse_command_line(int argc, char **argv, command_line &out, std::string &error);

constexpr int k_default_kept_backups = 10;

// The options' values once the command has accepted them.
struct options {
    const char *file = nullptr;
    bool dry_run = false;
    bool quiet = false;
    bool backup = false;
    int keep_backups = k_default_kept_backups;
    bool flush = false;
    bool ignore_missing = false;
    bool help = false;
    bool version = false;
    bool json = false;
    std::string format;  // "table", "json" or "plain"; empty: the command's own
    bool enabled = false;
    bool disabled = false;
    bool exact = false;
    std::optional<std::string> comment;
    std::vector<std::string> from;
    bool original = false;
};

// Fills `opts` from the given options; a value that is not understood is
// an error naming the option.
bool read_options(const std::vector<given_option> &given, options &opts, std::string &error);

#endif
