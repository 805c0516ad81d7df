#include "fuzz_support.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hosts_internal.h"
#include "quendral-hosts-record.h"
#include "strict_json.h"

namespace {

// Plain arrays: the exit handler runs after static std::strings are gone.
char s_dir[PATH_MAX];
char s_file[PATH_MAX];
char s_tmp[PATH_MAX];

void remove_scratch() {
    ::unlink(s_file);
    ::unlink(s_tmp);
    ::rmdir(s_dir);
}

std::string make_scratch() {
    const char *base = std::getenv("TMPDIR");
    if (base == nullptr || base[0] == '\0')
        base = "/tmp";
    int n = std::snprintf(s_dir, sizeof s_dir, "%s/qh-fuzz-XXXXXX", base);
    if (n < 0 || static_cast<std::size_t>(n) + sizeof "/hosts.tmp" > sizeof s_dir)
        fail("temporary folder name too long under %s", base);
    if (::mkdtemp(s_dir) == nullptr)
        fail("cannot make a folder under %s: %s", base, std::strerror(errno));
    std::snprintf(s_file, sizeof s_file, "%s/hosts", s_dir);
    std::snprintf(s_tmp, sizeof s_tmp, "%s/hosts.tmp", s_dir);
    std::atexit(remove_scratch);
    if (hosts_set_path(s_file) != 1)
        fail("hosts_set_path(%s): %s", s_file, hosts_last_error());
    return s_file;
}

}  // namespace

void fail(const char *fmt, ...) {
    std::fputs("\n*** invariant failed: ", stderr);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fputs("\n", stderr);
    std::abort();
}

const std::string &scratch_hosts() {
    static const std::string path = make_scratch();
    return path;
}

void write_file(const std::string &path, const void *data, std::size_t size) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        fail("cannot create %s: %s", path.c_str(), std::strerror(errno));
    bool ok = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !ok)
        fail("cannot write %s", path.c_str());
}

std::string read_file(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        fail("cannot open %s: %s", path.c_str(), std::strerror(errno));
    std::string text;
    char buf[16384];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, file)) > 0)
        text.append(buf, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    if (!ok)
        fail("cannot read %s", path.c_str());
    return text;
}

void expect_success(int rc, const char *call) {
    if (rc != 1)
        fail("%s returned %d: %s", call, rc, hosts_last_error());
    if (hosts_last_error()[0] != '\0')
        fail("%s succeeded but left the error text '%s'", call, hosts_last_error());
}

void expect_saved(const char *what) {
    expect_success(hosts_save(), what);
    if (::access(s_tmp, F_OK) == 0 || errno != ENOENT)
        fail("%s left %s behind", what, s_tmp);
}

void check_record(int index) {
    const host_record &rec = s_recs[index];
    if (!valid_ip(rec.ip))
        fail("record %d has the address %s", index, shown(rec.ip).c_str());
    if (!valid_name(rec.name))
        fail("record %d has the name %s", index, shown(rec.name).c_str());
    if (rec.has_comment != 0 && rec.has_comment != 1)
        fail("record %d has has_comment %d", index, rec.has_comment);
    if (strnlen(rec.comment, k_comment_size) == k_comment_size)
        fail("record %d has an unterminated comment", index);

    const char *text = hosts_get(index);
    if (hosts_last_error()[0] != '\0')
        fail("hosts_get(%d) set the error text '%s'", index, hosts_last_error());
    const char *comment = rec.has_comment ? rec.comment : "";
    const bool stored_is_utf8 = qh_record_is_utf8(rec.ip, std::strlen(rec.ip)) &&
                                qh_record_is_utf8(rec.name, std::strlen(rec.name)) &&
                                qh_record_is_utf8(comment, std::strlen(comment));
    strict_record got;
    std::string why;
    if (!parse_record_json(text, stored_is_utf8, &got, &why))
        fail("hosts_get(%d) is not strict JSON (%s): %s", index, why.c_str(), shown(text).c_str());
    if (got.ip != rec.ip || got.name != rec.name || got.enabled != rec.enabled ||
        got.comment != comment)
        fail("hosts_get(%d) says %s but the record holds ip %s, name %s, enabled %d, comment %s",
             index, shown(text).c_str(), shown(rec.ip).c_str(), shown(rec.name).c_str(),
             rec.enabled, shown(comment).c_str());
    // The decoder that ships with the library reads the same.
    qh_record shipped;
    if ((stored_is_utf8 ? qh_record_parse_utf8(text, &shipped) : qh_record_parse(text, &shipped)) !=
        1)
        fail("quendral-hosts-record.h refuses hosts_get(%d) (%s): %s", index, shipped.error,
             shown(text).c_str());
    if (got.ip != shipped.ip || got.name != shipped.name || got.enabled != (shipped.enabled == 1) ||
        got.comment != shipped.comment)
        fail("quendral-hosts-record.h reads hosts_get(%d) otherwise: %s", index,
             shown(text).c_str());
    qh_record_free(&shipped);
}

std::string shown(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
