// Reads the hosts file into the entry store. Every physical line, whatever
// its length, is handled as one line: it becomes enabled records, a disabled
// record, or a passthrough line kept exactly as trimmed, so that saving
// never drops or rewrites anything the loader did not understand.
#include <cstdlib>
#include <cstring>

#include "hooks.h"
#include "hosts_internal.h"
#include "last_load.h"
#include "patience.h"

namespace {

const std::size_t k_read_chunk = 64 * 1024;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// skip_blanks returns the first byte from `s` on that is not a blank, or
// `end`.
const char *skip_blanks(const char *s, const char *end) {
    while (s != end && is_blank(*s))
        ++s;
    return s;
}

// token_end returns the end of the token that starts at `s`: the first
// blank, or `end`.
const char *token_end(const char *s, const char *end) {
    while (s != end && !is_blank(*s))
        ++s;
    return s;
}

text_span span(const char *from, const char *to) {
    return {from, static_cast<std::size_t>(to - from)};
}

// name_end returns the end of the host name that starts at `s`, or nullptr
// when the token there is not a valid name. Checking each byte while
// looking for the end reads a name once, the bulk of a big file.
const char *name_end(const char *s, const char *end) {
    const char *at = name_bytes_end(s, end);
    if (at == s || static_cast<std::size_t>(at - s) > k_longest_name ||
        (at != end && !is_blank(*at)))
        return nullptr;
    return at;
}

// "IP NAME..." with an optional "#" comment: one record per name, or the
// whole line as a passthrough line when any part fails its check.
int load_active(const char *line, const char *end) {
    const char *hash = static_cast<const char *>(std::memchr(line, '#', end - line));
    const char *body_end = hash != nullptr ? hash : end;
    const text_span comment =
        hash != nullptr ? span(skip_blanks(hash + 1, end), end) : span(end, end);
    const text_span ip = span(line, token_end(line, body_end));
    const char *names = skip_blanks(ip.at + ip.len, body_end);
    bool is_entry = valid_ip_span(ip) && names != body_end && comment.len < k_comment_size;
    for (const char *pos = names; is_entry && pos != body_end;) {
        const char *name = name_end(pos, body_end);
        is_entry = name != nullptr;
        pos = is_entry ? skip_blanks(name, body_end) : body_end;
    }
    if (!is_entry)
        return add_passthrough(line);
    for (const char *pos = names; pos != body_end;) {
        const char *name = token_end(pos, body_end);
        if (add_record(ip, span(pos, name), 1, comment) < 0)
            return -1;
        pos = skip_blanks(name, body_end);
    }
    return 1;
}

// "# IP NAME" or "# IP NAME # comment" is a disabled record; any other
// commented line (prose, several names) stays a passthrough line.
int load_commented(const char *line, const char *end) {
    const char *ip_at = skip_blanks(line + 1, end);
    const text_span ip = span(ip_at, token_end(ip_at, end));
    const char *name_at = skip_blanks(ip.at + ip.len, end);
    const text_span name = span(name_at, token_end(name_at, end));
    const char *rest = skip_blanks(name.at + name.len, end);
    if (valid_ip_span(ip) && valid_name_span(name)) {
        if (rest == end)
            return add_record(ip, name, 0, span(end, end));
        if (*rest == '#') {
            const text_span comment = span(skip_blanks(rest + 1, end), end);
            if (comment.len < k_comment_size)
                return add_record(ip, name, 0, comment);
        }
    }
    return add_passthrough(line);
}

// load_line handles the `len` bytes at `raw`, one physical line without its
// line feed; the byte after them may be overwritten.
int load_line(char *raw, std::size_t len) {
    const char *line = skip_blanks(raw, raw + len);
    char *end = raw + len;
    while (end != line && (is_blank(end[-1]) || end[-1] == '\r'))
        --end;
    if (line == end)
        return 1;
    // A passthrough line is stored as a C string.
    *end = '\0';
    return *line == '#' ? load_commented(line, end) : load_active(line, end);
}

enum class read_outcome {
    complete,
    read_failed,
    out_of_memory,
    // A NUL byte: UTF-16 text or a binary file. Reading on would turn it
    // into lines that the next save writes back mangled.
    holds_nul,
};

// Reads `file` in chunks and hands each line to load_line. The buffer only
// grows to hold the longest line, and each byte is scanned once; `hash`
// is fed every byte read.
read_outcome read_lines(qh_file *file, content_hash *hash, sys_error *err) {
    char *buf = nullptr;
    std::size_t cap = 0;
    std::size_t len = 0;
    read_outcome outcome = read_outcome::complete;
    for (;;) {
        if (cap - len < k_read_chunk + 1) {
            std::size_t new_cap = cap < k_read_chunk ? 2 * k_read_chunk : 2 * cap;
            char *bigger = static_cast<char *>(resize_memory(buf, cap, new_cap));
            if (bigger == nullptr) {
                outcome = read_outcome::out_of_memory;
                break;
            }
            buf = bigger;
            cap = new_cap;
        }
        long long read = s_hooks.files->read_some(file, buf + len, k_read_chunk, err);
        if (read <= 0) {
            if (read < 0)
                outcome = read_outcome::read_failed;
            break;
        }
        std::size_t got = static_cast<std::size_t>(read);
        if (std::memchr(buf + len, '\0', got) != nullptr) {
            outcome = read_outcome::holds_nul;
            break;
        }
        hash->add(buf + len, got);
        std::size_t scan = len;
        std::size_t start = 0;
        len += got;
        while (char *nl = static_cast<char *>(std::memchr(buf + scan, '\n', len - scan))) {
            if (load_line(buf + start, static_cast<std::size_t>(nl - (buf + start))) < 0) {
                outcome = read_outcome::out_of_memory;
                break;
            }
            start = scan = static_cast<std::size_t>(nl - buf) + 1;
        }
        if (outcome != read_outcome::complete)
            break;
        std::memmove(buf, buf + start, len - start);
        len -= start;
    }
    if (outcome == read_outcome::complete && len > 0) {
        if (load_line(buf, len) < 0)
            outcome = read_outcome::out_of_memory;
    }
    release_memory(buf, cap);
    return outcome;
}

}  // namespace

QH_EXPORT int QH_CALL hosts_load(void) noexcept {
    clear_err();
    reset_lists();
    const char *path = path_in_use();
    qh_file *file = nullptr;
    sys_error err{};
    // A save holds the file for a moment (Windows: while it replaces it;
    // POSIX: while it writes it in place); the load waits for it as a save
    // waits for a scanner.
    patience holders(s_hooks.system, k_holder_wait_ms);
    file_status opened =
        while_busy(holders, [&] { return s_hooks.system->open_current(path, &file, &err); });
    if (opened != FILE_OK) {
        remember_load(path, opened == FILE_ABSENT ? LOADED_ABSENT : LOAD_FAILED, nullptr);
        if (opened == FILE_ABSENT)
            return 1;
        set_err("cannot open %s: %s", path, err.text);
        return -1;
    }
    content_hash content;
    read_outcome outcome = read_lines(file, &content, &err);
    s_hooks.files->close(file);
    remember_load(path, outcome == read_outcome::complete ? LOADED_CONTENT : LOAD_FAILED, &content);
    switch (outcome) {
        case read_outcome::complete:
            return 1;
        case read_outcome::read_failed:
            set_err("cannot read %s: %s", path, err.text);
            break;
        case read_outcome::out_of_memory:
            set_err("out of memory while parsing");
            break;
        case read_outcome::holds_nul:
            set_err("cannot read %s: it holds NUL bytes (UTF-16 or not a text file)", path);
            break;
    }
    reset_lists();
    return -1;
}
