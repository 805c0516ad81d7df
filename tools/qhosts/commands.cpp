#include "commands.h"

#include <algorithm>
#include <cstdio>

#include "edit_session.h"
#include "files.h"
#include "handlers.h"
#include "quendral-hosts.h"
#include "report.h"

#ifndef QHOSTS_VERSION
#error "QHOSTS_VERSION is set by the build"
#endif

namespace {

int flush_command(const invocation &call);
int help_command(const invocation &call);

using enum option_id;

const option_id k_list_options[] = {json, format, enabled, disabled, exact};
const option_id k_check_options[] = {json};
const option_id k_find_options[] = {from, ignore_missing};
const option_id k_add_options[] = {comment, dry_run, backup, keep_backups, flush};
const option_id k_change_options[] = {from, ignore_missing, dry_run, backup, keep_backups, flush};
const option_id k_import_options[] = {comment, disabled, dry_run, backup, keep_backups, flush};
const option_id k_restore_options[] = {original, dry_run, keep_backups, flush};

// The options every command takes.
const option_id k_common_options[] = {file, quiet, help};

const command k_commands[] = {
    {
        .name = "list",
        .arguments = "[PATTERN]",
        .summary = "show records; PATTERN keeps those whose address or name holds it",
        .details = "The table shows each record's index (what TARGETs and remove N use), its\n"
                   "state, address, name and comment. --json prints the library's JSON, one\n"
                   "object per line, with \"index\" first; \"enabled\" is 1 or 0 (in jq:\n"
                   "select(.enabled == 1)). PATTERN is compared ignoring ASCII case.\n",
        .example = "qhosts list --disabled lan\nqhosts -j list --exact 10.0.0.5",
        .accepts = k_list_options,
        .min_words = 0,
        .max_words = 1,
        .handler = list_command,
    },
    {
        .name = "check",
        .arguments = "",
        .summary = "report duplicates, conflicting names and broken lines; exit 1 if any",
        .details = "A duplicate says the same address, name and state twice; a conflict is a\n"
                   "name with several enabled addresses of one family; a broken line looks\n"
                   "like an entry but the library keeps it as plain text (a bad address or\n"
                   "name, a name too long, a '#' glued to a name), shown with its number.\n",
        .example = "qhosts check --json",
        .accepts = k_check_options,
        .min_words = 0,
        .max_words = 0,
        .handler = check_command,
    },
    {
        .name = "find",
        .arguments = "TARGET...",
        .summary = "print the index of every record the targets choose, one per line",
        .details = "Exit status 3 when a TARGET chooses nothing, as for the edits.\n",
        .example = "qhosts find '*.dev.lan' ip=10.0.0.0/8",
        .accepts = k_find_options,
        .min_words = 0,
        .max_words = -1,
        .handler = find_command,
    },
    {
        .name = "add",
        .arguments = "IP NAME...",
        .summary = "add an enabled record for each NAME unless it is there",
        .details = "Each NAME is a record of its own. An enabled record with that name and\n"
                   "address counts as there (names ignore ASCII case, addresses compare by\n"
                   "value); a disabled one does not (set enables it instead). Prints\n"
                   "\"added N: IP NAME\" or \"exists N: IP NAME\" for each name.\n",
        .example = "qhosts add 10.0.0.5 build.lan ci.lan --comment office",
        .accepts = k_add_options,
        .min_words = 2,
        .max_words = -1,
        .handler = add_command,
    },
    {
        .name = "set",
        .arguments = "IP NAME...",
        .summary = "make IP the one enabled address of each NAME; print the changes",
        .details = "An enabled NAME/IP record is kept, a disabled one is enabled rather than\n"
                   "a second one added, and every other enabled record of NAME is disabled.\n"
                   "A new --comment writes the record anew at the end. Prints one line per\n"
                   "record changed (added, enabled, disabled, updated).\n",
        .example = "qhosts set 10.0.0.42 dev.lan api.dev.lan",
        .accepts = k_add_options,
        .min_words = 2,
        .max_words = -1,
        .handler = set_command,
    },
    {
        .name = "enable",
        .arguments = "TARGET...",
        .summary = "enable records",
        .details = "Prints \"enabled N: IP NAME\" for each record changed; with --from, one\n"
                   "line with the count.\n",
        .example = "qhosts enable '*.dev.lan'",
        .accepts = k_change_options,
        .min_words = 0,
        .max_words = -1,
        .handler = enable_command,
    },
    {
        .name = "disable",
        .arguments = "TARGET...",
        .summary = "disable records (they stay as comment lines)",
        .details = "Prints \"disabled N: IP NAME\" for each record changed; with --from, one\n"
                   "line with the count.\n",
        .example = "qhosts disable ip=10.0.0.0/8 comment=staging",
        .accepts = k_change_options,
        .min_words = 0,
        .max_words = -1,
        .handler = disable_command,
    },
    {
        .name = "remove",
        .arguments = "TARGET...",
        .summary = "delete records",
        .details = "Prints \"removed N: IP NAME\" for each record removed (N as it was); with\n"
                   "--from, one line with the count. remove --from FILE takes out what\n"
                   "import FILE put in, and any record with the same name and address.\n",
        .example = "qhosts remove 10.0.0.11\nqhosts remove --from blocklist.txt",
        .accepts = k_change_options,
        .min_words = 0,
        .max_words = -1,
        .handler = remove_command,
    },
    {
        .name = "import",
        .arguments = "FILE",
        .summary = "add every entry of the hosts-format FILE that is not there yet",
        .details = "One load and one save, whatever the size of FILE (a blocklist). The\n"
                   "entries are FILE's active lines; its commented-out lines are left out.\n"
                   "An entry counts as there as for add (with --disabled, a record in either\n"
                   "state counts). Lines of FILE the library would refuse are reported as\n"
                   "FILE:LINE and skipped. Prints \"imported FILE: added N, skipped M already\n"
                   "there\". Entries keep their comment unless --comment gives one.\n",
        .example = "qhosts import blocklist.txt --comment blocklist",
        .accepts = k_import_options,
        .min_words = 1,
        .max_words = 1,
        .handler = import_command,
    },
    {
        .name = "backups",
        .arguments = "",
        .summary = "list the dated backups of the file, oldest first",
        .details = "--backup writes them, and restore before it replaces the file.\n",
        .example = "qhosts backups",
        .accepts = {},
        .min_words = 0,
        .max_words = 0,
        .handler = backups_command,
    },
    {
        .name = "restore",
        .arguments = "[BACKUP]",
        .summary = "put a backup back (the newest without BACKUP), byte for byte",
        .details = "BACKUP is a path, a backup's name or its stamp (YYYYMMDD-HHMMSS) as\n"
                   "backups lists it; --original puts back PATH.orig, the file as it was\n"
                   "before qhosts first rearranged it. The current file is backed up first,\n"
                   "its owner and permissions are kept, and nothing changes when another\n"
                   "program changed it meanwhile.\n",
        .example = "qhosts restore\nqhosts restore --original",
        .accepts = k_restore_options,
        .min_words = 0,
        .max_words = 1,
        .handler = restore_command,
    },
    {
        .name = "flush",
        .arguments = "",
        .summary = "flush the DNS resolver cache",
        .details = "",
        .example = "qhosts flush",
        .accepts = {},
        .min_words = 0,
        .max_words = 0,
        .handler = flush_command,
    },
    {
        .name = "help",
        .arguments = "[COMMAND]",
        .summary = "show this text, or a command's arguments, options and an example",
        .details = "",
        .example = "qhosts help import",
        .accepts = {},
        .min_words = 0,
        .max_words = 1,
        .handler = help_command,
    },
};

const char k_targets_text[] =
    "TARGET is an index as list shows it; a host name (ASCII case ignored) or a\n"
    "glob on names ('*.dev.lan', '?', '[a-z]'); name=NAME for a name that looks\n"
    "like an index or an address; ip=ADDRESS or ip=ADDRESS/BITS (10.0.0.0/8,\n"
    "fd00::/8), which a bare address or range also means; comment=TEXT (the\n"
    "comment holds TEXT) or comment~GLOB; and --from FILE, every entry of a\n"
    "hosts-format file.\n";

const char k_exit_text[] =
    "exit status: 0 done (also when there was nothing to change), 1 failed (check:\n"
    "problems found), 2 bad usage, 3 a TARGET matched nothing (0 with\n"
    "--ignore-missing).\n";

const command *command_named(const std::string &name) {
    for (const command &cmd : k_commands) {
        if (name == cmd.name)
            return &cmd;
    }
    return nullptr;
}

std::string usage_line(const command &cmd) {
    std::string line = cmd.name;
    if (*cmd.arguments != '\0')
        line += std::string(" ") + cmd.arguments;
    return line;
}

void print_option(const option_info &info) {
    std::printf("  %-24s %s\n", option_synopsis(info).c_str(), info.help);
}

void print_usage() {
    std::printf("usage: qhosts [OPTIONS] COMMAND [ARGS]\n\ncommands:\n");
    for (const command &cmd : k_commands)
        std::printf("  %s\n      %s\n", usage_line(cmd).c_str(), cmd.summary);
    std::printf("\n%s\noptions:\n", k_targets_text);
    for (option_id id :
         {file, dry_run, quiet, backup, keep_backups, flush, ignore_missing, help, version})
        print_option(info_of(id));
    std::printf("  %-24s %s\n", "--", "end of options; later words are taken literally");
    std::printf("\n%s\nqhosts help COMMAND shows a command's own options and an example.\n",
                k_exit_text);
}

void print_command_help(const command &cmd) {
    std::printf("usage: qhosts [OPTIONS] %s\n\n%s\n", usage_line(cmd).c_str(), cmd.summary);
    if (*cmd.details != '\0')
        std::printf("\n%s", cmd.details);
    if (std::string(cmd.arguments).find("TARGET") != std::string::npos)
        std::printf("\n%s", k_targets_text);
    std::printf("\noptions:\n");
    for (option_id id : cmd.accepts)
        print_option(info_of(id));
    for (option_id id : k_common_options)
        print_option(info_of(id));
    std::printf("\nexample:\n");
    std::string example = cmd.example;
    for (std::size_t start = 0; start < example.size();) {
        const std::size_t end = std::min(example.find('\n', start), example.size());
        std::printf("  %s\n", example.substr(start, end - start).c_str());
        start = end + 1;
    }
}

int flush_command(const invocation &) {
    return flush_resolver(false);
}

int help_command(const invocation &call) {
    if (call.words.empty()) {
        print_usage();
        return k_exit_ok;
    }
    const command *cmd = command_named(call.words[0]);
    if (cmd == nullptr)
        return usage_error("unknown command: " + call.words[0]);
    print_command_help(*cmd);
    return k_exit_ok;
}

bool accepts(const command &cmd, option_id id) {
    return std::find(cmd.accepts.begin(), cmd.accepts.end(), id) != cmd.accepts.end() ||
           std::find(std::begin(k_common_options), std::end(k_common_options), id) !=
               std::end(k_common_options);
}

// An option that the command cannot honour is refused, never ignored.
int refuse_options(const command_line &line, const options &opts, const command &cmd) {
    for (const given_option &given : line.options) {
        if (!accepts(cmd, given.id))
            return usage_error(given.spelling + " does not apply to " + cmd.name);
    }
    if (opts.dry_run && (opts.backup || opts.flush))
        return usage_error(std::string(opts.backup ? "--backup" : "--flush") +
                           " does not apply to --dry-run: a dry run changes no file");
    // A command that takes --backup backs up only when given it; one that
    // does not (restore) always backs up.
    const bool keep_given = std::any_of(line.options.begin(), line.options.end(),
                                        [](const given_option &o) { return o.id == keep_backups; });
    if (keep_given && accepts(cmd, backup) && !opts.backup)
        return usage_error("--keep-backups applies only with --backup");
    if (opts.json && !opts.format.empty() && opts.format != "json")
        return usage_error("--json and --format " + opts.format + " exclude each other");
    return k_exit_ok;
}

bool words_fit(const command &cmd, std::size_t count) {
    return static_cast<int>(count) >= cmd.min_words &&
           (cmd.max_words < 0 || static_cast<int>(count) <= cmd.max_words);
}

}  // namespace

int run(int argc, char **argv) {
    command_line line;
    options opts;
    std::string error;
    if (!parse_command_line(argc, argv, line, error) || !read_options(line.options, opts, error))
        return usage_error(error);
    set_quiet(opts.quiet);
    if (opts.version) {
        std::printf("qhosts %s (library %s)\n", QHOSTS_VERSION, hosts_version());
        return k_exit_ok;
    }
    if (line.words.empty()) {
        if (opts.help) {
            print_usage();
            return k_exit_ok;
        }
        return usage_error("no command given");
    }
    const command *cmd = command_named(line.words.front());
    if (cmd == nullptr)
        return usage_error("unknown command: " + line.words.front());
    if (opts.help) {
        print_command_help(*cmd);
        return k_exit_ok;
    }
    const std::vector<std::string> words(line.words.begin() + 1, line.words.end());
    const int refused = refuse_options(line, opts, *cmd);
    if (refused != k_exit_ok)
        return refused;
    if (!words_fit(*cmd, words.size())) {
        report("usage: qhosts " + usage_line(*cmd) + " (see qhosts help " + cmd->name + ")");
        return k_exit_usage;
    }
    if (hosts_set_path(opts.file) != 1)
        return report_library_error();
    return cmd->handler({opts, *cmd, words});
}

bool warn_of_resolver_folder(const options &opts) {
    const std::string path = hosts_path(opts);
    if (opts.file && !is_system_hosts_file(path))
        return false;
    const std::string folder = resolver_folder_elsewhere(path);
    if (folder.empty())
        return false;
    report("warning: the resolver reads its hosts file from " + folder +
           " (DataBasePath), not from the folder of " + path);
    return true;
}
