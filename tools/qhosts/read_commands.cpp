// list, check and find: load and print, never save.
#include <cstdio>

#include "edit_session.h"
#include "files.h"
#include "handlers.h"
#include "lines.h"
#include "quendral-hosts.h"
#include "render.h"
#include "report.h"
#include "text.h"

namespace {

// A read of a file that is not there shows nothing, which a typo in --file
// would make look like an empty hosts file: it is an error instead.
bool hosts_file_present(const options &opts) {
    const std::string path = hosts_path(opts);
    if (path_exists(path))
        return true;
    report(path + " does not exist");
    return false;
}

// Loads the hosts file, once it is known to be there, and reads its
// records unless `records` is null.
int load_hosts(const options &opts, std::vector<record> *records) {
    if (!hosts_file_present(opts))
        return k_exit_failed;
    if (hosts_load() != 1)
        return report_library_error();
    if (records != nullptr && !fetch_all_records(*records))
        return k_exit_failed;
    return k_exit_ok;
}

}  // namespace

int list_command(const invocation &call) {
    const options &opts = call.opts;
    if (opts.enabled && opts.disabled)
        return usage_error("--enabled and --disabled exclude each other");
    const bool has_pattern = !call.words.empty();
    if (opts.exact && !has_pattern)
        return usage_error("--exact needs a PATTERN");
    const std::string pattern = has_pattern ? ascii_lower(call.words[0]) : "";
    const std::string pattern_key = address_key(pattern);
    const auto selected = [&](const record &rec) {
        if ((opts.enabled && !rec.enabled) || (opts.disabled && rec.enabled))
            return false;
        if (!has_pattern)
            return true;
        if (opts.exact)
            return address_key(rec.ip) == pattern_key || ascii_lower(rec.name) == pattern;
        return ascii_lower(rec.ip).find(pattern) != std::string::npos ||
               ascii_lower(rec.name).find(pattern) != std::string::npos;
    };
    warn_of_resolver_folder(opts);
    const int loaded = load_hosts(opts, nullptr);
    if (loaded != k_exit_ok)
        return loaded;

    // JSON lines are printed as they come; the table needs every row first
    // to size its columns.
    if (opts.json || opts.format == "json") {
        const int count = hosts_count();
        for (int index = 0; index < count; ++index) {
            record rec;
            const char *text = fetch_record(index, rec);
            if (text == nullptr)
                return k_exit_failed;
            if (selected(rec))
                std::printf("%s\n", indexed_json(index, text).c_str());
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
    if (opts.format == "plain")
        print_plain(records, shown);
    else
        print_table(records, shown);
    return k_exit_ok;
}

int check_command(const invocation &call) {
    // A resolver that reads another folder is a finding like the others.
    const bool elsewhere = warn_of_resolver_folder(call.opts);
    std::vector<record> records;
    const int loaded = load_hosts(call.opts, &records);
    if (loaded != k_exit_ok)
        return loaded;
    const std::string path = hosts_path(call.opts);
    std::string bytes, error;
    if (read_file(path, bytes, error) != read_result::ok) {
        report(error.empty() ? path + " does not exist" : error);
        return k_exit_failed;
    }
    std::vector<broken_line> broken;
    if (!find_broken_lines(bytes, records, broken)) {
        report(path + " changed while it was read; run check again");
        return k_exit_failed;
    }
    const std::vector<problem> problems = find_problems(records);
    print_problems(records, problems, broken, call.opts.json);
    return problems.empty() && broken.empty() && !elsewhere ? k_exit_ok : k_exit_failed;
}

// qhosts find: the records the edits would choose, by their indexes.
int find_command(const invocation &call) {
    std::vector<target> targets;
    const int read = read_targets(call, targets);
    if (read != k_exit_ok)
        return read;
    std::vector<record> records;
    const int loaded = load_hosts(call.opts, &records);
    if (loaded != k_exit_ok)
        return loaded;
    std::vector<int> indexes;
    const int chosen = choose_records(targets, records, call.opts.ignore_missing, indexes);
    if (chosen != k_exit_ok)
        return chosen;
    for (int index : indexes)
        std::printf("%d\n", index);
    return k_exit_ok;
}

int read_targets(const invocation &call, std::vector<target> &targets) {
    if (call.words.empty() && call.opts.from.empty()) {
        report("usage: qhosts " + std::string(call.cmd.name) + " " + call.cmd.arguments +
               " (see qhosts help " + call.cmd.name + ")");
        return k_exit_usage;
    }
    std::string error;
    if (!parse_targets(call.words, targets, error))
        return usage_error(error);
    for (const std::string &file : call.opts.from) {
        std::vector<entry_line> entries;
        if (!read_entry_lines(file, entries, error)) {
            report(error);
            return k_exit_failed;
        }
        targets.push_back(entries_target(file, entries));
    }
    return k_exit_ok;
}
