// Reads the hosts file into the entry store. Every physical line, whatever
// its length, is handled as one line: it becomes enabled records, a disabled
// record, or a passthrough line kept exactly as trimmed, so that saving
// never drops or rewrites anything the loader did not understand.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hosts_internal.h"

namespace {

const std::size_t READ_CHUNK = 64 * 1024;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

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

int append_record(const char *ip, const char *name, int enabled,
                  const char *comment) {
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

// Reads `file` in chunks and hands each line to load_line. The buffer only
// grows to hold the longest line, and each byte is scanned once.
int read_lines(std::FILE *file, const char *path) {
    char *buf = nullptr;
    std::size_t cap = 0;
    std::size_t len = 0;
    int rc = 1;
    for (;;) {
        if (cap - len < READ_CHUNK + 1) {
            std::size_t new_cap = cap < READ_CHUNK ? 2 * READ_CHUNK : 2 * cap;
            char *bigger = static_cast<char *>(s_realloc(buf, cap, new_cap));
            if (bigger == nullptr) {
                rc = -2;
                break;
            }
            buf = bigger;
            cap = new_cap;
        }
        std::size_t got = std::fread(buf + len, 1, READ_CHUNK, file);
        if (got == 0) {
            if (std::ferror(file)) {
                set_err("cannot read %s: %s", path, std::strerror(errno));
                rc = -1;
            }
            break;
        }
        std::size_t scan = len;
        std::size_t start = 0;
        len += got;
        while (char *nl = static_cast<char *>(std::memchr(buf + scan, '\n', len - scan))) {
            *nl = '\0';
            if (load_line(buf + start) < 0) {
                rc = -2;
                break;
            }
            start = scan = static_cast<std::size_t>(nl - buf) + 1;
        }
        if (rc < 0)
            break;
        std::memmove(buf, buf + start, len - start);
        len -= start;
    }
    if (rc > 0 && len > 0) {
        buf[len] = '\0';
        if (load_line(buf) < 0)
            rc = -2;
    }
    release_block(buf, cap);
    if (rc == -2) {
        set_err("out of memory while parsing");
        rc = -1;
    }
    return rc;
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

const char *first_two(const char *line, char *ip, char *name, int *has_ip,
                      int *has_name) noexcept {
    const char *pos = line;
    *has_ip = take_token(&pos, ip, IP_SIZE);
    *has_name = take_token(&pos, name, NAME_SIZE);
    return pos;
}

QH_EXPORT int QH_CALL hosts_load(void) noexcept {
    clear_err();
    reset_lists();
    const char *path = path_in_use();
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        if (errno == ENOENT)
            return 1;
        set_err("cannot open %s: %s", path, std::strerror(errno));
        return -1;
    }
    int rc = read_lines(file, path);
    std::fclose(file);
    if (rc < 0)
        reset_lists();
    return rc;
}
