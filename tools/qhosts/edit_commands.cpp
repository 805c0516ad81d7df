// add, set, enable, disable, remove and import: load, change, save.
#include "edit_session.h"
#include "edits.h"
#include "handlers.h"
#include "lines.h"
#include "quendral-hosts.h"
#include "report.h"

namespace {

// "IP NAME...": the words of add and set.
int address_names_command(const invocation &call,
                          edit_fn (*make)(const std::string &, const std::vector<std::string> &,
                                          const std::optional<std::string> &)) {
    const std::vector<std::string> names(call.words.begin() + 1, call.words.end());
    warn_of_resolver_folder(call.opts);
    return run_edit(call.opts, make(call.words[0], names, call.opts.comment));
}

int change_command(const invocation &call, change what) {
    std::vector<target> targets;
    const int read = read_targets(call, targets);
    if (read != k_exit_ok)
        return read;
    warn_of_resolver_folder(call.opts);
    // A file's entries can be many: one line with the count, not one each.
    const bool summary = !call.opts.from.empty();
    return run_edit(call.opts, change_edit(targets, what, call.opts.ignore_missing, summary));
}

}  // namespace

int add_command(const invocation &call) {
    return address_names_command(call, add_edit);
}

int set_command(const invocation &call) {
    return address_names_command(call, set_edit);
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

int import_command(const invocation &call) {
    const std::string &file = call.words[0];
    std::vector<entry_line> entries;
    std::string error;
    if (!read_entry_lines(file, entries, error)) {
        report(error);
        return k_exit_failed;
    }
    warn_of_resolver_folder(call.opts);
    return run_edit(call.opts, import_edit(file, entries, call.opts.comment, call.opts.disabled));
}
