// backups and restore: the copies qhosts keeps of the file, and putting
// one back.
#include <cstdio>

#include "backups.h"
#include "edit_session.h"
#include "files.h"
#include "handlers.h"
#include "report.h"

namespace {

// The backup that BACKUP names: a dated backup of the file by its path,
// its name or its stamp, or any other file by its path. Empty after
// reporting when there is none.
std::string chosen_backup(const std::string &path, const std::string &word) {
    std::vector<backup> backups;
    std::string error;
    if (!list_backups(path, backups, error)) {
        report(error);
        return "";
    }
    if (word.empty()) {
        if (backups.empty())
            report("no backups of " + path + " (" + path + ".bak.YYYYMMDD-HHMMSS)");
        return backups.empty() ? "" : backups.back().path;
    }
    for (const backup &b : backups) {
        const std::string numbered =
            b.number == 1 ? b.stamp : b.stamp + "-" + std::to_string(b.number);
        if (word == b.path || word == name_in_folder(b.path) || word == numbered)
            return b.path;
    }
    if (path_exists(word))
        return word;
    report("no backup '" + word + "' of " + path + " (qhosts backups lists them)");
    return "";
}

}  // namespace

int backups_command(const invocation &call) {
    std::vector<backup> backups;
    std::string error;
    if (!list_backups(hosts_path(call.opts), backups, error)) {
        report(error);
        return k_exit_failed;
    }
    for (const backup &b : backups)
        std::printf("%s\n", b.path.c_str());
    return k_exit_ok;
}

int restore_command(const invocation &call) {
    const options &opts = call.opts;
    const std::string path = hosts_path(opts);
    if (opts.original && !call.words.empty())
        return usage_error("restore takes a BACKUP or --original, not both");
    std::string source = original_path(path);
    if (opts.original && !path_exists(source)) {
        report("no " + source + ": qhosts keeps one before its first save that rearranges " + path);
        return k_exit_failed;
    }
    if (!opts.original)
        source = chosen_backup(path, call.words.empty() ? "" : call.words[0]);
    if (source.empty())
        return k_exit_failed;
    std::string bytes, current, error;
    if (read_file(source, bytes, error) != read_result::ok)
        return edit_failed(error.empty() ? "cannot read " + source : error);
    const read_result state = read_file(path, current, error);
    if (state == read_result::failed)
        return edit_failed(error);
    if (state == read_result::ok && current == bytes) {
        notice(path + " already holds what " + source + " holds; nothing to restore");
        return k_exit_ok;
    }
    if (opts.dry_run) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
            return edit_failed("cannot write output");
        return k_exit_ok;
    }
    std::string saved;
    if (!write_dated_backup(path, opts.keep_backups, source, saved, error))
        return edit_failed(error);
    const std::optional<std::string> expected =
        state == read_result::ok ? std::optional<std::string>(current) : std::nullopt;
    if (!replace_contents(path, bytes, expected, error))
        return edit_failed(error);
    if (!opts.quiet) {
        std::printf("restored %s from %s%s\n", path.c_str(), source.c_str(),
                    saved.empty() ? "" : ("; what it held is in " + saved).c_str());
    }
    if (opts.flush)
        return flush_resolver(true);
    return k_exit_ok;
}
