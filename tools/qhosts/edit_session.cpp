#include "edit_session.h"

#include <cstdio>

#include "files.h"
#include "quendral-hosts.h"
#include "report.h"

namespace {

// The library only writes where the path points, so a dry run saves into a
// fresh temporary file instead of the real one, shows it and deletes it.
int preview_save() {
    std::string temp;
    if (!make_temp_file(temp)) {
        report("cannot create a temporary file for --dry-run");
        return k_exit_failed;
    }
    int status = k_exit_ok;
    if (hosts_set_path(temp.c_str()) != 1 || hosts_save() != 1) {
        status = report_library_error();
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
    const std::string note = hosts_last_error();
    if (!note.empty()) {
        std::fprintf(after_save ? stderr : stdout,
                     "flushed by the fallback command (first attempt failed: %s)\n", note.c_str());
    } else if (!after_save) {
        std::printf("flushed\n");
    }
    return k_exit_ok;
}

int run_edit(const options &opts, const edit_fn &edit) {
    if (hosts_load() != 1)
        return report_library_error();
    edit_outcome outcome;
    if (!edit(outcome))
        return k_exit_failed;
    if (opts.dry_run)
        return preview_save();
    if (hosts_save() != 1)
        return report_library_error();
    for (const std::string &line : outcome.lines)
        std::printf("%s\n", line.c_str());
    if (opts.flush)
        return flush_resolver(true);
    return k_exit_ok;
}
