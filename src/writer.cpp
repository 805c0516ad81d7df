// Writes the store back: the whole new file goes to "<path>.tmp", is flushed
// to stable storage, and only then takes the old file's place in one step.
// Any failure before that leaves the old file exactly as it was.
#include <cstdio>
#include <cstring>

#include "hosts_internal.h"
#include "platform.h"

namespace {

const std::size_t TMP_PATH_SIZE = 8300;

// Collects output lines so that the file is written in large blocks.
class output {
public:
    explicit output(qh_file *file) : file_(file) {}

    bool put(const char *data, std::size_t size) {
        if (size > sizeof buf_ - used_ && !flush())
            return false;
        if (size >= sizeof buf_)
            return s_platform->write_all(file_, data, size, &err_) == 0;
        std::memcpy(buf_ + used_, data, size);
        used_ += size;
        return true;
    }

    bool flush() {
        if (used_ == 0)
            return true;
        std::size_t size = used_;
        used_ = 0;
        return s_platform->write_all(file_, buf_, size, &err_) == 0;
    }

    const char *error() const { return err_.text; }

private:
    qh_file *file_;
    sys_error err_{};
    std::size_t used_ = 0;
    char buf_[16 * 1024];
};

bool put_text(output &out, const char *text) { return out.put(text, std::strlen(text)); }

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
        if (!put_record(out, s_recs[i]))
            return false;
    }
    for (int i = 0; i < s_pass_count; ++i) {
        if (!put_text(out, s_pass[i]) || !out.put("\n", 1))
            return false;
    }
    return out.flush();
}

}  // namespace

QH_EXPORT int QH_CALL hosts_save(void) noexcept {
    clear_err();
    const qh_platform *os = s_platform;
    const char *path = path_in_use();
    char tmp[TMP_PATH_SIZE];
    std::snprintf(tmp, sizeof tmp, "%s.tmp", path);

    sys_error err{};
    qh_file *file = os->create_temp(tmp, path, &err);
    if (file == nullptr) {
        set_err("cannot open %s for writing: %s", tmp, err.text);
        return -1;
    }
    output out(file);
    if (!put_all(out)) {
        os->abandon(file);
        os->remove_file(tmp);
        set_err("failed writing %s: %s", tmp, out.error());
        return -1;
    }
    if (os->commit(file, &err) != 0) {
        os->remove_file(tmp);
        set_err("failed writing %s: %s", tmp, err.text);
        return -1;
    }
    // The old file is replaced only when it is absent or nobody else holds
    // it open; the replace itself is a single step, so there is never a
    // moment without a hosts file.
    if (os->probe(path, &err) == PROBE_BLOCKED || os->replace(tmp, path, &err) != 0) {
        os->remove_file(tmp);
        set_err("rename %s -> %s failed: %s", tmp, path, err.text);
        return -1;
    }
    if (os->flush_folder != nullptr)
        os->flush_folder(path);
    return 1;
}
