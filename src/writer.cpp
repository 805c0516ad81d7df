// Writes the store back. A save runs these steps, and any failure before
// the replace leaves the old file exactly as it was:
//  1. resolve the path: a symbolic link stays, the file it leads to is
//     replaced;
//  2. create "<file>.tmp" afresh, never through what was at that name; the
//     open temporary file is the save's lock, so that saves of one file from
//     several processes follow one another (save_lock.h on each side);
//  3. write every record, then every passthrough line, and flush the
//     temporary file to stable storage;
//  4. wait while another program holds the file open for a moment;
//  5. under the lock, check that the file still holds what the last load
//     read (or is still absent), as late as can be, so that a change by a
//     writer that takes no lock has the least time to slip in unseen;
//  6. put the temporary file in its place in one step, so that there is
//     never a moment without a hosts file;
//  7. flush the folder, so that the new name survives a power cut, and
//     only then let go of the lock.
#include <cstdio>
#include <cstring>

#include "hooks.h"
#include "hosts_internal.h"
#include "last_load.h"
#include "patience.h"

namespace {

// How long a save waits for another save of the same file.
const int k_other_save_wait_ms = 2000;

// Collects output lines so that the file is written in large blocks.
class output {
public:
    // `hash`, when given, is fed every byte written.
    output(qh_file *file, content_hash *hash) : file_(file), hash_(hash) {}

    bool put(const char *data, std::size_t size) {
        if (size > sizeof buf_ - used_ && !flush())
            return false;
        if (size >= sizeof buf_)
            return write(data, size);
        std::memcpy(buf_ + used_, data, size);
        used_ += size;
        return true;
    }

    bool flush() {
        if (used_ == 0)
            return true;
        std::size_t size = used_;
        used_ = 0;
        return write(buf_, size);
    }

    const char *error() const { return err_.text; }

private:
    bool write(const char *data, std::size_t size) {
        if (hash_ != nullptr)
            hash_->add(data, size);
        return s_hooks.files->write_all(file_, data, size, &err_) == 0;
    }

    qh_file *file_;
    content_hash *hash_;
    sys_error err_{};
    std::size_t used_ = 0;
    char buf_[16 * 1024];
};

bool put_text(output &out, const char *text) {
    return out.put(text, std::strlen(text));
}

// "IP NAME", "IP NAME # COMMENT", or either behind "# " when disabled.
bool put_record(output &out, const host_record &rec) {
    if (!rec.enabled && !out.put("# ", 2))
        return false;
    if (!put_text(out, rec.ip) || !out.put(" ", 1) || !put_text(out, rec.name))
        return false;
    if (rec.has_comment && (!out.put(" # ", 3) || !put_text(out, rec.comment)))
        return false;
    return out.put("\n", 1);
}

bool put_all(output &out) {
    for (int i = 0; i < s_rec_count; ++i) {
        prefetch_later_record(i);
        if (!put_record(out, s_recs[i]))
            return false;
    }
    for (int i = 0; i < s_pass_count; ++i) {
        if (!put_text(out, s_pass[i]) || !out.put("\n", 1))
            return false;
    }
    return out.flush();
}

enum check_result { UNCHANGED, CHANGED, CANNOT_OPEN, CANNOT_READ };

// Whether the file at `path` still holds exactly what the last load (or
// save) left there, or is still absent. Content, not timestamps: a
// same-size edit within the same second is a change, a touch is not.
check_result check_unchanged(const char *path, const loaded_file &seen, patience &holders,
                             sys_error *err) {
    const qh_system *os = s_hooks.system;
    const qh_file_methods *files = s_hooks.files;
    qh_file *file = nullptr;
    file_status opened = while_busy(holders, [&] { return os->open_current(path, &file, err); });
    if (opened == FILE_ABSENT)
        return seen.outcome == LOADED_ABSENT ? UNCHANGED : CHANGED;
    if (opened != FILE_OK)
        return CANNOT_OPEN;
    if (seen.outcome == LOADED_ABSENT) {
        files->close(file);
        return CHANGED;
    }
    content_hash now;
    char buf[64 * 1024];
    long long got;
    while ((got = files->read_some(file, buf, sizeof buf, err)) > 0 && now.size() <= seen.size)
        now.add(buf, static_cast<std::size_t>(got));
    files->close(file);
    if (got < 0)
        return CANNOT_READ;
    return now.size() == seen.size && now.value() == seen.hash ? UNCHANGED : CHANGED;
}

}  // namespace

QH_EXPORT int QH_CALL hosts_save(void) noexcept {
    clear_err();
    const qh_system *os = s_hooks.system;
    const qh_file_methods *files = s_hooks.files;
    const char *chosen = path_in_use();
    const loaded_file seen = remembered_load(chosen);
    if (seen.outcome == LOAD_FAILED) {
        set_err("not replacing %s: its last load failed", chosen);
        return -1;
    }
    sys_error err{};
    char path[k_path_size];
    if (os->resolve_target(chosen, path, sizeof path, &err) != 0) {
        set_err("not replacing %s: %s", path, err.text);
        return -1;
    }
    char tmp[k_temp_path_size];
    std::snprintf(tmp, sizeof tmp, "%s.tmp", path);

    qh_file *file = nullptr;
    patience other_save(os, k_other_save_wait_ms);
    file_status created =
        while_busy(other_save, [&] { return os->create_temp(tmp, path, &file, &err); });
    if (created == FILE_BUSY) {
        set_err("cannot open %s for writing: another save of %s is in progress", tmp, path);
        return -1;
    }
    if (created != FILE_OK) {
        set_err("cannot open %s for writing: %s", tmp, err.text);
        return -1;
    }
    const bool checked = seen.outcome != NEVER_LOADED;
    content_hash written;
    output out(file, checked ? &written : nullptr);
    if (!put_all(out)) {
        files->discard(file, tmp);
        set_err("failed writing %s: %s", tmp, out.error());
        return -1;
    }
    if (files->sync(file, &err) != 0) {
        files->discard(file, tmp);
        set_err("failed writing %s: %s", tmp, err.text);
        return -1;
    }
    // The old file is replaced only when it is absent or nobody else holds
    // it open; the replace itself is a single step, so there is never a
    // moment without a hosts file.
    patience holders(os, k_holder_wait_ms);
    file_status replaced = while_busy(holders, [&] { return os->probe(path, &err); });
    if (replaced == FILE_OK || replaced == FILE_ABSENT) {
        const check_result check = checked ? check_unchanged(path, seen, holders, &err) : UNCHANGED;
        if (check != UNCHANGED) {
            files->discard(file, tmp);
            if (check == CHANGED)
                set_err("%s changed since it was loaded", chosen);
            else
                set_err(check == CANNOT_OPEN ? "cannot open %s: %s" : "cannot read %s: %s", path,
                        err.text);
            return -1;
        }
        replaced = while_busy(holders, [&] { return files->replace(file, tmp, path, &err); });
    }
    if (replaced == FILE_TEMP_KEPT) {
        files->close(file);
        set_err("rename %s -> %s failed: %s; the new content is kept in %s", tmp, path, err.text,
                tmp);
        return -1;
    }
    if (replaced != FILE_OK && replaced != FILE_UNFLUSHED) {
        files->discard(file, tmp);
        set_err("rename %s -> %s failed: %s", tmp, path, err.text);
        return -1;
    }
    if (replaced == FILE_OK && os->flush_folder != nullptr && os->flush_folder(path, &err) != 0)
        replaced = FILE_UNFLUSHED;
    files->close(file);
    if (checked)
        remember_saved(chosen, written);
    if (replaced == FILE_UNFLUSHED) {
        set_err(
            "%s was replaced but flushing it to disk failed: %s; the change may not survive a "
            "crash",
            path, err.text);
        return -1;
    }
    return 1;
}
