#include "edit_session.h"

#include <cstdio>

#include "files.h"
#include "report.h"
#include "text.h"

const edit_calls library_edit_calls = {
    .load = hosts_load,
    .save = hosts_save,
    .last_error = hosts_last_error,
};

namespace {

// The library's refusal to save over a file that another program changed
// since the load: "PATH changed since it was loaded".
bool changed_since_load(const std::string &error_text) {
    static const std::string k_tail = " changed since it was loaded";
    return error_text.size() > k_tail.size() && error_text.ends_with(k_tail);
}

// An edit that failed: the reason, and how to get the rights it needs
// when the system refused access.
int edit_failed(const std::string &error_text) {
    report(error_text);
    if (refused_access(error_text))
        report(elevation_hint());
    return k_exit_failed;
}

// The library only writes where the path points, so a dry run saves into a
// fresh temporary file instead of the real one, shows it and deletes it.
int preview_save(const edit_calls &calls) {
    std::string temp;
    if (!make_temp_file(temp)) {
        report("cannot create a temporary file for --dry-run");
        return k_exit_failed;
    }
    int status = k_exit_ok;
    if (hosts_set_path(temp.c_str()) != 1 || calls.save() != 1) {
        status = edit_failed(calls.last_error());
    } else if (!copy_to_stdout(temp)) {
        report("cannot read back the temporary file " + temp);
        status = k_exit_failed;
    }
    std::remove(temp.c_str());
    return status;
}

}  // namespace

int flush_resolver(bool after_save) {
    if (hosts_flush_dns() != 1) {
        report(std::string(after_save ? "saved, but the DNS flush failed: " : "") +
               hosts_last_error());
        return k_exit_failed;
    }
    // A success with a text: either no resolver cache runs at all, or the
    // fallback command did the work after the library call failed.
    const std::string note = hosts_last_error();
    if (note == "no resolver cache is running; nothing to flush") {
        std::fprintf(after_save ? stderr : stdout, "%s\n", note.c_str());
    } else if (!note.empty()) {
        std::fprintf(after_save ? stderr : stdout,
                     "flushed by the fallback command (first attempt failed: %s)\n", note.c_str());
    } else if (!after_save) {
        std::printf("flushed\n");
    }
    return k_exit_ok;
}

int run_edit(const options &opts, const edit_fn &edit, const edit_calls &calls) {
    edit_outcome outcome;
    for (int attempt = 1;; ++attempt) {
        if (calls.load() != 1)
            return edit_failed(calls.last_error());
        outcome = edit_outcome();
        if (!edit(outcome))
            return k_exit_failed;
        // An edit with nothing to change writes nothing: the file keeps its
        // bytes, and a dry run has no file to show.
        if (!outcome.changed)
            break;
        if (opts.dry_run)
            return preview_save(calls);
        std::string error;
        if (opts.backup && !write_backup(opts.file ? opts.file : system_hosts_path(), error))
            return edit_failed(error);
        if (calls.save() == 1)
            break;
        error = calls.last_error();
        if (attempt == k_edit_attempts || !changed_since_load(error))
            return edit_failed(error);
    }
    for (const std::string &line : outcome.lines)
        std::printf("%s\n", line.c_str());
    if (opts.flush)
        return flush_resolver(true);
    return k_exit_ok;
}
