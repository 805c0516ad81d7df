// Reads the hosts file into the entry store. Every physical line, whatever
// its length, is handled as one line: it becomes enabled records, a disabled
// record, or a passthrough line kept exactly as trimmed, so that saving
// never drops or rewrites anything the loader did not understand.
#include <cstdlib>
#include <cstring>

#include "hosts_internal.h"
#include "load_memory.h"
#include "platform.h"

namespace {

const std::size_t READ_CHUNK = 64 * 1024;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

const char *skip_blanks(const char *s) {
    while (is_blank(*s))
        ++s;
    return s;
}

// Copies the next blank-separated token after *pos into `out` (cut to
// room - 1 characters) and moves *pos past it; false when there is none.
bool take_token(const char **pos, char *out, std::size_t room) {
    const char *s = skip_blanks(*pos);
    std::size_t len = std::strcspn(s, " \t");
    std::size_t kept = len < room - 1 ? len : room - 1;
    std::memcpy(out, s, kept);
    out[kept] = '\0';
    *pos = s + len;
    return len > 0;
}

int append_record(const char *ip, const char *name, int enabled, const char *comment) {
    return add_record(ip, name, enabled, comment, comment[0] != '\0');
}

// "IP NAME..." with an optional "#" comment: one record per name, or the
// whole line as a passthrough line when any part fails its check.
int load_active(char *line) {
    char *hash = std::strchr(line, '#');
    const char *comment = "";
    if (hash != nullptr) {
        *hash = '\0';
        comment = skip_blanks(hash + 1);
    }
    char ip[IP_SIZE];
    char name[NAME_SIZE];
    int has_ip = 0;
    int has_name = 0;
    const char *names = first_two(line, ip, name, &has_ip, &has_name);
    bool is_entry = has_ip && has_name && valid_ip(ip) && valid_name(name) &&
                    std::strlen(comment) < COMMENT_SIZE;
    char extra[NAME_SIZE];
    for (const char *pos = names; is_entry && take_token(&pos, extra, NAME_SIZE);)
        is_entry = valid_name(extra) != 0;

    int rc = 1;
    if (is_entry) {
        rc = append_record(ip, name, 1, comment);
        for (const char *pos = names; rc > 0 && take_token(&pos, extra, NAME_SIZE);)
            rc = append_record(ip, extra, 1, comment);
    }
    if (hash != nullptr)
        *hash = '#';
    return is_entry ? rc : add_passthrough(line);
}

// "# IP NAME" or "# IP NAME # comment" is a disabled record; any other
// commented line (prose, several names) stays a passthrough line.
int load_commented(const char *line) {
    char ip[IP_SIZE];
    char name[NAME_SIZE];
    int has_ip = 0;
    int has_name = 0;
    const char *rest = skip_blanks(first_two(line + 1, ip, name, &has_ip, &has_name));
    if (has_ip && has_name && valid_ip(ip) && valid_name(name)) {
        if (*rest == '\0')
            return add_record(ip, name, 0, "", 0);
        if (*rest == '#') {
            const char *comment = skip_blanks(rest + 1);
            if (std::strlen(comment) < COMMENT_SIZE)
                return append_record(ip, name, 0, comment);
        }
    }
    return add_passthrough(line);
}

int load_line(char *raw) {
    char *line = trim(raw);
    if (*line == '\0')
        return 1;
    return *line == '#' ? load_commented(line) : load_active(line);
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
        if (cap - len < READ_CHUNK + 1) {
            std::size_t new_cap = cap < READ_CHUNK ? 2 * READ_CHUNK : 2 * cap;
            char *bigger = static_cast<char *>(s_realloc(buf, cap, new_cap));
            if (bigger == nullptr) {
                outcome = read_outcome::out_of_memory;
                break;
            }
            buf = bigger;
            cap = new_cap;
        }
        long long read = s_platform->read_some(file, buf + len, READ_CHUNK, err);
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
            *nl = '\0';
            if (load_line(buf + start) < 0) {
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
        buf[len] = '\0';
        if (load_line(buf) < 0)
            outcome = read_outcome::out_of_memory;
    }
    release_block(buf, cap);
    return outcome;
}

}  // namespace

char *trim(char *s) noexcept {
    while (is_blank(*s))
        ++s;
    std::size_t n = std::strlen(s);
    while (n > 0 && (is_blank(s[n - 1]) || s[n - 1] == '\r' || s[n - 1] == '\n'))
        s[--n] = '\0';
    return s;
}

const char *first_two(const char *line, char *ip, char *name, int *has_ip, int *has_name) noexcept {
    const char *pos = line;
    *has_ip = take_token(&pos, ip, IP_SIZE);
    *has_name = take_token(&pos, name, NAME_SIZE);
    return pos;
}

QH_EXPORT int QH_CALL hosts_load(void) noexcept {
    clear_err();
    reset_lists();
    const qh_platform *os = s_platform;
    const char *path = path_in_use();
    qh_file *file = nullptr;
    sys_error err{};
    file_status opened = os->open_current(path, &file, &err);
    if (opened != FILE_OK) {
        remember_load(path, opened == FILE_ABSENT ? LOADED_ABSENT : LOAD_FAILED, nullptr);
        if (opened == FILE_ABSENT)
            return 1;
        set_err("cannot open %s: %s", path, err.text);
        return -1;
    }
    content_hash content;
    read_outcome outcome = read_lines(file, &content, &err);
    os->close_file(file);
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
