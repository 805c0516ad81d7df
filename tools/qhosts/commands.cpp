#include "commands.h"

#include <cstdio>
#include <string>

#include "edit_session.h"
#include "quendral-hosts.h"
#include "records.h"
#include "render.h"
#include "report.h"

namespace {

int list_command(const options &opts, const std::vector<word> &args);
int add_command(const options &opts, const std::vector<word> &args);
int enable_command(const options &opts, const std::vector<word> &args);
int disable_command(const options &opts, const std::vector<word> &args);
int remove_command(const options &opts, const std::vector<word> &args);
int flush_command(const options &opts, const std::vector<word> &args);

const command k_commands[] = {
    {"list", "[--json] [--enabled|--disabled] [PATTERN]",
     "show records; PATTERN keeps those whose address or name contains it (ignoring ASCII "
     "case)",
     command_kind::reads, list_command},
    {"add", "IP NAME [COMMENT]", "add an enabled record and print its index", command_kind::edits,
     add_command},
    {"enable", "TARGET...", "enable records", command_kind::edits, enable_command},
    {"disable", "TARGET...", "disable records (they stay as comment lines)", command_kind::edits,
     disable_command},
    {"remove", "TARGET...", "delete records", command_kind::edits, remove_command},
    {"flush", "", "flush the DNS resolver cache", command_kind::flushes, flush_command},
};

const char k_targets_text[] =
    "TARGET is a record index as shown by list, or a host name selecting\n"
    "every record with that name.\n";

const char k_options_text[] =
    "options:\n"
    "  --file PATH   work on PATH instead of the system hosts file\n"
    "  --dry-run     print the file an edit would write and change nothing\n"
    "  --flush       flush the DNS resolver cache after an edit is saved\n"
    "  --help        show this text\n"
    "  --version     show the library version\n"
    "  --            end of options; later words are taken literally\n";

const command *find_command(const std::string &name) {
    for (const command &cmd : k_commands) {
        if (name == cmd.name)
            return &cmd;
    }
    return nullptr;
}

std::string command_line(const command &cmd) {
    std::string line = cmd.name;
    if (*cmd.arguments != '\0')
        line += std::string(" ") + cmd.arguments;
    return line;
}

void print_usage() {
    std::printf("usage: qhosts [--file PATH] [--dry-run] [--flush] COMMAND [ARGS]\n\ncommands:\n");
    for (const command &cmd : k_commands)
        std::printf("  %s\n      %s\n", command_line(cmd).c_str(), cmd.summary);
    std::printf("\n%s\n%s", k_targets_text, k_options_text);
}

// A command called with the wrong words: the error names its usage line.
int command_usage_error(const char *name) {
    report(std::string("usage: qhosts ") + command_line(*find_command(name)));
    return k_exit_usage;
}

int list_command(const options &, const std::vector<word> &args) {
    static const char *const k_flags[] = {"--json", "--enabled", "--disabled", nullptr};
    command_arguments arguments;
    std::string error;
    if (!split_arguments(args, k_flags, arguments, error))
        return usage_error(error);
    if (arguments.positional.size() > 1)
        return command_usage_error("list");
    const bool json = arguments.has("--json");
    const bool want_enabled = arguments.has("--enabled");
    const bool want_disabled = arguments.has("--disabled");
    if (want_enabled && want_disabled)
        return usage_error("--enabled and --disabled exclude each other");
    const bool has_pattern = !arguments.positional.empty();
    const std::string pattern = has_pattern ? ascii_lower(arguments.positional[0]) : "";
    if (hosts_load() != 1)
        return report_library_error();

    // JSON lines are printed as they come; the table needs every row first
    // to size its columns.
    std::vector<record> shown;
    const int count = hosts_count();
    for (int i = 0; i < count; ++i) {
        record rec;
        if (!fetch_record(i, rec))
            return k_exit_failed;
        if ((want_enabled && !rec.enabled) || (want_disabled && rec.enabled))
            continue;
        if (has_pattern && ascii_lower(rec.ip).find(pattern) == std::string::npos &&
            ascii_lower(rec.name).find(pattern) == std::string::npos)
            continue;
        if (json) {
            std::fputs(rec.json.c_str(), stdout);
            std::fputc('\n', stdout);
        } else {
            shown.push_back(rec);
        }
    }
    if (!json)
        print_table(shown);
    return k_exit_ok;
}

// The positional words of a command that takes no flags, or a usage error.
bool positional_only(const std::vector<word> &args, std::vector<std::string> &words, int &status) {
    static const char *const k_no_flags[] = {nullptr};
    command_arguments arguments;
    std::string error;
    if (!split_arguments(args, k_no_flags, arguments, error)) {
        status = usage_error(error);
        return false;
    }
    words = arguments.positional;
    return true;
}

int add_command(const options &opts, const std::vector<word> &args) {
    std::vector<std::string> words;
    int status = k_exit_ok;
    if (!positional_only(args, words, status))
        return status;
    if (words.size() < 2 || words.size() > 3)
        return command_usage_error("add");
    return run_edit(opts, [&words](edit_outcome &outcome) {
        const int index = hosts_add(words[0].c_str(), words[1].c_str(),
                                    words.size() == 3 ? words[2].c_str() : nullptr);
        if (index < 0) {
            report_library_error();
            return false;
        }
        outcome.changed = true;
        outcome.lines.push_back(std::to_string(index));
        return true;
    });
}

enum class change { enable, disable, remove };

int change_command(const options &opts, const char *name, change what,
                   const std::vector<word> &args) {
    std::vector<std::string> targets;
    int status = k_exit_ok;
    if (!positional_only(args, targets, status))
        return status;
    if (targets.empty())
        return command_usage_error(name);
    return run_edit(opts, [&targets, what](edit_outcome &outcome) {
        std::vector<int> indices;
        if (!resolve_targets(targets, indices))
            return false;
        if (what == change::remove) {
            // Each removal shifts later records down, so going from the
            // highest index keeps the remaining indices pointing at the
            // chosen records.
            for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
                if (hosts_remove(*it) != 1) {
                    report_library_error();
                    return false;
                }
            }
        } else {
            for (int index : indices) {
                if (hosts_set_enabled(index, what == change::enable ? 1 : 0) != 1) {
                    report_library_error();
                    return false;
                }
            }
        }
        outcome.changed = true;
        return true;
    });
}

int enable_command(const options &opts, const std::vector<word> &args) {
    return change_command(opts, "enable", change::enable, args);
}

int disable_command(const options &opts, const std::vector<word> &args) {
    return change_command(opts, "disable", change::disable, args);
}

int remove_command(const options &opts, const std::vector<word> &args) {
    return change_command(opts, "remove", change::remove, args);
}

int flush_command(const options &opts, const std::vector<word> &args) {
    if (!args.empty())
        return command_usage_error("flush");
    if (opts.dry_run) {
        std::printf("dry run: resolver cache not flushed\n");
        return k_exit_ok;
    }
    return flush_resolver(false);
}

}  // namespace

int run(int argc, char **argv) {
    options opts;
    std::string error;
    if (!parse_options(argc, argv, opts, error))
        return usage_error(error);
    if (opts.help) {
        print_usage();
        return k_exit_ok;
    }
    if (opts.version) {
        std::printf("%s\n", hosts_version());
        return k_exit_ok;
    }
    if (opts.words.empty())
        return usage_error("no command given");
    const word &name = opts.words.front();
    if (name.is_option)
        return usage_error("unknown option: " + name.text);
    const command *cmd = find_command(name.text);
    if (cmd == nullptr)
        return usage_error("unknown command: " + name.text);
    const std::vector<word> args(opts.words.begin() + 1, opts.words.end());
    if (cmd->kind != command_kind::flushes && hosts_set_path(opts.file) != 1)
        return report_library_error();
    return cmd->handler(opts, args);
}
