#include "commands.h"

#include <cstdio>
#include <string>

#include "edit_session.h"
#include "edits.h"
#include "files.h"
#include "quendral-hosts.h"
#include "records.h"
#include "render.h"
#include "report.h"
#include "text.h"

namespace {

int list_command(const invocation &call);
int check_command(const invocation &call);
int find_command_targets(const invocation &call);
int add_command(const invocation &call);
int set_command(const invocation &call);
int enable_command(const invocation &call);
int disable_command(const invocation &call);
int remove_command(const invocation &call);
int flush_command(const invocation &call);

const command k_commands[] = {
    {"list", "[--json] [--enabled|--disabled] [PATTERN]",
     "show records; PATTERN keeps those whose address or name holds it", command_kind::reads,
     list_command},
    {"check", "[--json]", "show duplicates and names with several addresses; exit 1 if any",
     command_kind::reads, check_command},
    {"find", "TARGET...", "print the index of every record the targets choose, one per line",
     command_kind::reads, find_command_targets},
    {"add", "IP NAME [COMMENT]", "add an enabled record unless it is there; print its index",
     command_kind::edits, add_command},
    {"set", "IP NAME [COMMENT]", "make IP the one enabled address of NAME; print the changes",
     command_kind::edits, set_command},
    {"enable", "TARGET...", "enable records", command_kind::edits, enable_command},
    {"disable", "TARGET...", "disable records (they stay as comment lines)", command_kind::edits,
     disable_command},
    {"remove", "TARGET...", "delete records", command_kind::edits, remove_command},
    {"flush", "", "flush the DNS resolver cache", command_kind::flushes, flush_command},
};

const char k_targets_text[] =
    "TARGET is a record index as shown by list, a host name (every record with\n"
    "that name), name=NAME for a name made of digits, or ip=ADDRESS (every\n"
    "record with that address).\n";

const char k_options_text[] =
    "options:\n"
    "  --file PATH   work on PATH instead of the system hosts file\n"
    "  --dry-run     print the file an edit would write and change nothing\n"
    "  --backup      copy the file to PATH.bak before an edit replaces it\n"
    "  --flush       flush the DNS resolver cache after an edit\n"
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
    std::printf(
        "usage: qhosts [--file PATH] [--dry-run] [--backup] [--flush] COMMAND [ARGS]\n\n"
        "commands:\n");
    for (const command &cmd : k_commands)
        std::printf("  %s\n      %s\n", command_line(cmd).c_str(), cmd.summary);
    std::printf("\n%s\n%s", k_targets_text, k_options_text);
}

// A command called with the wrong words: the error names its usage line.
int command_usage_error(const invocation &call) {
    report(std::string("usage: qhosts ") + command_line(call.cmd));
    return k_exit_usage;
}

// A global option that the command cannot honour is refused, never ignored.
int refuse_options(const options &opts, const command &cmd) {
    const std::string name = cmd.name;
    if (cmd.kind != command_kind::edits) {
        const char *saves_nothing = opts.dry_run  ? "--dry-run"
                                    : opts.backup ? "--backup"
                                    : opts.flush  ? "--flush"
                                                  : nullptr;
        if (saves_nothing)
            return usage_error(std::string(saves_nothing) + " does not apply to " + name +
                               ": it changes no file");
    } else if (opts.dry_run && (opts.backup || opts.flush)) {
        return usage_error(std::string(opts.backup ? "--backup" : "--flush") +
                           " does not apply to --dry-run: a dry run changes no file");
    }
    return k_exit_ok;
}

// Where the system's resolver reads its hosts file from another folder than
// the system file worked on here, edits of that file change nothing it
// sees: one line says so. True when it was said.
bool warn_of_resolver_folder(const options &opts) {
    const std::string path = opts.file ? opts.file : system_hosts_path();
    if (opts.file && !is_system_hosts_file(path))
        return false;
    const std::string folder = resolver_folder_elsewhere(path);
    if (folder.empty())
        return false;
    report("warning: the resolver reads its hosts file from " + folder +
           " (DataBasePath), not from the folder of " + path);
    return true;
}

int list_command(const invocation &call) {
    static const char *const k_flags[] = {"--json", "--enabled", "--disabled", nullptr};
    command_arguments arguments;
    std::string error;
    if (!split_arguments(call.args, k_flags, arguments, error))
        return usage_error(error);
    if (arguments.positional.size() > 1)
        return command_usage_error(call);
    const bool json = arguments.has("--json");
    const bool want_enabled = arguments.has("--enabled");
    const bool want_disabled = arguments.has("--disabled");
    if (want_enabled && want_disabled)
        return usage_error("--enabled and --disabled exclude each other");
    const bool has_pattern = !arguments.positional.empty();
    const std::string pattern = has_pattern ? ascii_lower(arguments.positional[0]) : "";
    warn_of_resolver_folder(call.opts);
    const auto selected = [&](const record &rec) {
        if ((want_enabled && !rec.enabled) || (want_disabled && rec.enabled))
            return false;
        return !has_pattern || ascii_lower(rec.ip).find(pattern) != std::string::npos ||
               ascii_lower(rec.name).find(pattern) != std::string::npos;
    };
    if (hosts_load() != 1)
        return report_library_error();

    // JSON lines are printed as they come; the table needs every row first
    // to size its columns.
    if (json) {
        const int count = hosts_count();
        for (int index = 0; index < count; ++index) {
            record rec;
            const char *text = fetch_record(index, rec);
            if (text == nullptr)
                return k_exit_failed;
            if (selected(rec)) {
                std::fputs(text, stdout);
                std::fputc('\n', stdout);
            }
        }
        return k_exit_ok;
    }
    std::vector<record> records;
    if (!fetch_all_records(records))
        return k_exit_failed;
    std::vector<int> shown;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (selected(records[i]))
            shown.push_back(static_cast<int>(i));
    }
    print_table(records, shown);
    return k_exit_ok;
}

int check_command(const invocation &call) {
    static const char *const k_flags[] = {"--json", nullptr};
    command_arguments arguments;
    std::string error;
    if (!split_arguments(call.args, k_flags, arguments, error))
        return usage_error(error);
    if (!arguments.positional.empty())
        return command_usage_error(call);
    // A resolver that reads another folder is a finding like the others.
    const bool elsewhere = warn_of_resolver_folder(call.opts);
    std::vector<record> records;
    if (hosts_load() != 1)
        return report_library_error();
    if (!fetch_all_records(records))
        return k_exit_failed;
    const std::vector<problem> problems = find_problems(records);
    print_problems(records, problems, arguments.has("--json"));
    return problems.empty() && !elsewhere ? k_exit_ok : k_exit_failed;
}

// qhosts find: the records edits would choose, by their indexes; exit 1 when
// a target chooses nothing, as the edits do.
int find_command_targets(const invocation &call) {
    static const char *const k_no_flags[] = {nullptr};
    command_arguments arguments;
    std::string error;
    if (!split_arguments(call.args, k_no_flags, arguments, error))
        return usage_error(error);
    if (arguments.positional.empty())
        return command_usage_error(call);
    if (!check_target_words(arguments.positional, error))
        return usage_error(error);
    if (hosts_load() != 1)
        return report_library_error();
    std::vector<int> indexes;
    if (!resolve_targets(arguments.positional, indexes))
        return k_exit_failed;
    for (int index : indexes)
        std::printf("%d\n", index);
    return k_exit_ok;
}

// The positional words of a command that takes no flags, or a usage error.
bool positional_only(const invocation &call, std::vector<std::string> &words, int &status) {
    static const char *const k_no_flags[] = {nullptr};
    command_arguments arguments;
    std::string error;
    if (!split_arguments(call.args, k_no_flags, arguments, error)) {
        status = usage_error(error);
        return false;
    }
    words = arguments.positional;
    return true;
}

// "IP NAME [COMMENT]": the words of add and set.
int address_name_command(const invocation &call,
                         edit_fn (*make)(const std::string &, const std::string &,
                                         const std::string *)) {
    std::vector<std::string> words;
    int status = k_exit_ok;
    if (!positional_only(call, words, status))
        return status;
    if (words.size() < 2 || words.size() > 3)
        return command_usage_error(call);
    warn_of_resolver_folder(call.opts);
    return run_edit(call.opts, make(words[0], words[1], words.size() == 3 ? &words[2] : nullptr));
}

int add_command(const invocation &call) {
    return address_name_command(call, add_edit);
}

int set_command(const invocation &call) {
    return address_name_command(call, set_edit);
}

int change_command(const invocation &call, change what) {
    std::vector<std::string> targets;
    int status = k_exit_ok;
    if (!positional_only(call, targets, status))
        return status;
    if (targets.empty())
        return command_usage_error(call);
    std::string error;
    if (!check_target_words(targets, error))
        return usage_error(error);
    warn_of_resolver_folder(call.opts);
    return run_edit(call.opts, change_edit(targets, what));
}

int enable_command(const invocation &call) {
    return change_command(call, change::enable);
}

int disable_command(const invocation &call) {
    return change_command(call, change::disable);
}

int remove_command(const invocation &call) {
    return change_command(call, change::remove);
}

int flush_command(const invocation &call) {
    if (!call.args.empty())
        return command_usage_error(call);
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
    const int refused = refuse_options(opts, *cmd);
    if (refused != k_exit_ok)
        return refused;
    if (cmd->kind != command_kind::flushes && hosts_set_path(opts.file) != 1)
        return report_library_error();
    return cmd->handler({opts, *cmd, {opts.words.begin() + 1, opts.words.end()}});
}
