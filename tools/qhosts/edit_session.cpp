#include "edit_session.h"

#include <cstdio>

#include "backups.h"
#include "files.h"
#include "report.h"

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

// The library only writes where the path points, so what it would write is
// seen through a save into a fresh temporary file. The path in use is put
// back afterwards.
bool save_to_temp(const options &opts, int(QH_CALL *save)(), std::string &bytes,
                  std::string &error) {
    std::string temp;
    if (!make_temp_file(temp)) {
        error = "cannot create a temporary file";
        return false;
    }
    bool ok = hosts_set_path(temp.c_str()) == 1 && save() == 1;
    if (!ok)
        error = hosts_last_error();
    ok = ok && read_file(temp, bytes, error) == read_result::ok;
    std::string ignored;
    remove_file(temp, ignored);
    hosts_set_path(opts.file);
    return ok;
}

// What a dry run shows: the file the save would write.
int preview_save(const options &opts, const edit_calls &calls) {
    std::string bytes, error;
    if (!save_to_temp(opts, calls.save, bytes, error))
        return edit_failed(error);
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
        return edit_failed("cannot write output");
    return k_exit_ok;
}

// The file as it was loaded, and whether a save rearranges it: whether its
// bytes differ from what the library writes for the records and lines it
// read, unchanged (entries first, other lines after them, no blank lines).
struct layout {
    bool rearranges = false;
    std::string bytes;
};

bool read_layout(const options &opts, const std::string &path, layout &out, std::string &error) {
    const read_result state = read_file(path, out.bytes, error);
    if (state != read_result::ok)
        return state == read_result::absent;
    std::string unchanged;
    if (!save_to_temp(opts, hosts_save, unchanged, error))
        return false;
    out.rearranges = unchanged != out.bytes;
    return true;
}

// Keeps the file as it was in PATH.orig, once: a copy that exists stays.
bool keep_original(const std::string &path, const layout &before, std::string &error) {
    const std::string original = original_path(path);
    switch (write_copy(before.bytes, original, path, false, error)) {
        case write_result::written:
            notice("kept " + path + " as it was in " + original +
                   ": a save writes entries first and other lines after them, without blank "
                   "lines (qhosts restore --original puts it back)");
            return true;
        case write_result::exists:
            return true;
        case write_result::failed:
            error = "cannot keep " + path + " as it was in " + original + ": " + error;
            return false;
    }
    return false;
}

}  // namespace

int edit_failed(const std::string &error_text) {
    report(error_text);
    if (refused_access(error_text))
        report(elevation_hint());
    return k_exit_failed;
}

std::string hosts_path(const options &opts) {
    return opts.file ? opts.file : system_hosts_path();
}

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
    const std::string path = hosts_path(opts);
    edit_outcome outcome;
    for (int attempt = 1;; ++attempt) {
        if (calls.load() != 1)
            return edit_failed(calls.last_error());
        // Only a first rearranging save needs the file as it was, and a dry
        // run says whether it would be one.
        layout before;
        std::string error;
        if ((opts.dry_run || !path_exists(original_path(path))) &&
            !read_layout(opts, path, before, error))
            return edit_failed(error);
        outcome = edit_outcome();
        const int status = edit(outcome);
        if (status != k_exit_ok)
            return status;
        // An edit with nothing to change writes nothing: the file keeps its
        // bytes, and a dry run has no file to show.
        if (!outcome.changed)
            break;
        if (opts.dry_run) {
            if (before.rearranges)
                notice("this save would rearrange " + path +
                       ": entries first, other lines after them, without blank lines");
            return preview_save(opts, calls);
        }
        if (before.rearranges && !keep_original(path, before, error))
            return edit_failed(error);
        std::string backup;
        if (opts.backup && !write_dated_backup(path, opts.keep_backups, "", backup, error))
            return edit_failed(error);
        if (calls.save() == 1)
            break;
        error = calls.last_error();
        if (attempt == k_edit_attempts || !changed_since_load(error))
            return edit_failed(error);
    }
    for (const std::string &text : outcome.notices)
        notice(text);
    if (!opts.quiet) {
        for (const std::string &line : outcome.lines)
            std::printf("%s\n", line.c_str());
    }
    if (opts.flush)
        return flush_resolver(true);
    return k_exit_ok;
}
