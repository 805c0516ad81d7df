// Runs a sequence of edits decoded from the input against a known hosts file
// and checks every result, and the whole table after every step, against a
// plain model of what the table should hold.
//
// Input: a list of operations, each a tag byte (tag % 4) and its arguments:
//   0 add       ip text, name text, comment text
//   1 enable    index number, enabled number
//   2 remove    index number
//   3 save, then load again
// A number is one signed byte, except that 0x80 means "the next four bytes,
// little-endian". A text is one or more pieces, each a tag byte (tag % 4):
//   0 a dictionary entry, its number in the next byte
//   1 raw bytes, their count in the next byte
//   2 one character repeated, the count in the next two bytes (little-endian,
//     modulo 1100) and the character after them
//   3 as the first piece: no text at all (a null pointer); later: nothing
// and tag & 4 says that another piece follows. A NUL ends the text there,
// as it would for any C caller. Missing bytes read as zero.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "hosts_internal.h"

namespace {

struct model_record {
    std::string ip;
    std::string name;
    int enabled;
    std::string comment;
    int has_comment;
};

using model = std::vector<model_record>;

// The file every input starts from: entries of each kind plus lines that
// are not entries, which must come through every save untouched.
const char k_start_file[] =
    "# Static table lookup for hostnames.\r\n"
    "127.0.0.1\tlocalhost\n"
    "::1 localhost ip6-localhost # loopback\n"
    "# 10.0.0.1 is the gateway\n"
    "#192.168.1.10 nas.lan #  backup box \n"
    "10.0.0.9 bad!name\n"
    "\n"
    "# 10.0.0.7 printer.lan\n";

const model k_start_records = {
    {"127.0.0.1", "localhost", 1, "", 0},       {"::1", "localhost", 1, "loopback", 1},
    {"::1", "ip6-localhost", 1, "loopback", 1}, {"192.168.1.10", "nas.lan", 0, "backup box", 1},
    {"10.0.0.7", "printer.lan", 0, "", 0},
};

const std::vector<std::string> k_start_passthrough = {
    "# Static table lookup for hostnames.",
    "# 10.0.0.1 is the gateway",
    "10.0.0.9 bad!name",
};

const std::vector<std::string> k_ips = {
    "127.0.0.1",
    "0.0.0.0",
    "255.255.255.255",
    "10.0.0.5",
    "::1",
    "::",
    "fe80::1",
    "2001:db8::42",
    "1:2:3:4:5:6:7:8",
    "FFFF::",
    "1::",
    "ABCD:ef01::",
    "256.0.0.1",
    "1.2.3",
    "1.2.3.4.5",
    "0001.2.3.4",
    "1..2.3",
    "1.2.3.",
    ":::",
    "1::2::3",
    ":1::",
    "1:",
    "fe80::1%eth0",
    "::ffff:1.2.3.4",
    " 1.2.3.4",
    "1.2.3.4 ",
    "1.2.3.4#",
    "1.2.3.4\n",
    "a.b.c.d",
    "",
    "0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0",
};

const std::vector<std::string> k_names = {
    "localhost",
    "a",
    "build.lan",
    "my-host_1.example.com",
    "-",
    ".",
    "_",
    "UPPER.case",
    "0",
    "bad name",
    "bad#name",
    "tab\tname",
    "new\nline",
    "cr\rname",
    "\xc3\xbc"
    "mlaut",
    "a/b",
    "",
    "#",
    "name ",
};

const std::vector<std::string> k_comments = {
    "",
    "CI runner",
    "  padded  ",
    "\tleading tab",
    "trailing tab\t",
    "   ",
    "\t \t",
    "# hash",
    "a # b",
    "#",
    "line\nbreak",
    "cr\rhere",
    "\r",
    "\n",
    "ends in cr\r",
    "quote \" and \\ backslash",
    "ctrl \x01\x1f\x7f",
    "utf-8 \xc3\xa9",
    "bad utf-8 \xff\xfe",
    "\v",
    "\f form feed",
    " # ",
    "127.0.0.1 evil.example",
};

class input {
public:
    input(const std::uint8_t *data, std::size_t size) : p_(data), end_(data + size) {}

    bool empty() const { return p_ == end_; }

    std::uint8_t byte() { return p_ == end_ ? 0 : *p_++; }

    int number() {
        std::uint8_t b = byte();
        if (b != 0x80)
            return static_cast<std::int8_t>(b);
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return static_cast<std::int32_t>(v);
    }

    std::size_t length() {
        std::size_t lo = byte();
        return (lo | static_cast<std::size_t>(byte()) << 8) % 1100;
    }

private:
    const std::uint8_t *p_;
    const std::uint8_t *end_;
};

struct text {
    bool null = false;
    std::string value;

    const char *ptr() const { return null ? nullptr : value.c_str(); }
};

text read_text(input &in, const std::vector<std::string> &dictionary) {
    text t;
    for (bool first = true;; first = false) {
        std::uint8_t tag = in.byte();
        switch (tag % 4) {
            case 0:
                t.value += dictionary[in.byte() % dictionary.size()];
                break;
            case 1:
                for (std::size_t n = in.byte(); n > 0; --n)
                    t.value += static_cast<char>(in.byte());
                break;
            case 2: {
                std::size_t n = in.length();
                t.value.append(n, static_cast<char>(in.byte()));
                break;
            }
            default:
                t.null = first;
                break;
        }
        if ((tag & 4) == 0 || t.null)
            break;
    }
    t.value.resize(std::strlen(t.value.c_str()));
    return t;
}

// The library keeps at most k_err_size - 1 characters of an error text.
std::string cut_error(const std::string &message) {
    return message.substr(0, k_err_size - 1);
}

std::string range_error(int index, std::size_t count) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "index %d out of range (count %zu)", index, count);
    return buf;
}

// What hosts_add must say about these arguments, in the order it checks
// them; empty when it must accept them.
std::string add_refusal(const text &ip, const text &name, const text &comment) {
    if (ip.null || ip.value.empty())
        return "ip is NULL or empty";
    if (!valid_ip(ip.ptr()))
        return cut_error("invalid ip: '" + ip.value + "'");
    if (name.null || name.value.empty())
        return "name is NULL or empty";
    if (!valid_name(name.ptr()))
        return cut_error("invalid name: '" + name.value + "'");
    if (comment.value.size() > k_comment_size - 1)
        return "comment too long";
    if (comment.value.find_first_of("\r\n") != std::string::npos)
        return "comment contains a line break";
    return "";
}

void expect_result(const char *call, int rc, int expected_rc, const std::string &expected_error) {
    if (rc != expected_rc)
        fail("%s returned %d, expected %d (error text %s)", call, rc, expected_rc,
             shown(hosts_last_error()).c_str());
    if (hosts_last_error() != expected_error)
        fail("%s left the error text %s, expected %s", call, shown(hosts_last_error()).c_str(),
             shown(expected_error).c_str());
}

void expect_table(const model &m, const char *after) {
    if (s_rec_count < 0 || static_cast<std::size_t>(s_rec_count) != m.size() ||
        hosts_count() != s_rec_count)
        fail("after %s: %d records (hosts_count %d), the model has %zu", after, s_rec_count,
             hosts_count(), m.size());
    for (std::size_t i = 0; i < m.size(); ++i) {
        const host_record &rec = s_recs[i];
        const model_record &want = m[i];
        const char *comment = rec.has_comment ? rec.comment : "";
        if (rec.ip != want.ip || rec.name != want.name || rec.enabled != want.enabled ||
            rec.has_comment != want.has_comment || comment != want.comment)
            fail("after %s, record %zu is %s %s %d %d %s; the model says %s %s %d %d %s", after, i,
                 shown(rec.ip).c_str(), shown(rec.name).c_str(), rec.enabled, rec.has_comment,
                 shown(rec.comment).c_str(), shown(want.ip).c_str(), shown(want.name).c_str(),
                 want.enabled, want.has_comment, shown(want.comment).c_str());
    }
    if (s_pass_count < 0 || static_cast<std::size_t>(s_pass_count) != k_start_passthrough.size())
        fail("after %s: %d passthrough lines, expected %zu", after, s_pass_count,
             k_start_passthrough.size());
    for (std::size_t i = 0; i < k_start_passthrough.size(); ++i) {
        if (s_pass[i] != k_start_passthrough[i])
            fail("after %s, passthrough line %zu is %s, expected %s", after, i,
                 shown(s_pass[i]).c_str(), shown(k_start_passthrough[i]).c_str());
    }
}

// A save writes a record as one line, and the loader trims that line and
// the comment's start, so a comment loses its outer blanks; nothing left
// means no comment.
void model_save_and_load(model &m) {
    for (model_record &rec : m) {
        std::size_t first = rec.comment.find_first_not_of(" \t");
        std::size_t last = rec.comment.find_last_not_of(" \t");
        rec.comment = first == std::string::npos ? "" : rec.comment.substr(first, last - first + 1);
        rec.has_comment = rec.comment.empty() ? 0 : 1;
    }
}

void do_add(input &in, model &m) {
    text ip = read_text(in, k_ips);
    text name = read_text(in, k_names);
    text comment = read_text(in, k_comments);
    std::string refusal = add_refusal(ip, name, comment);
    int rc = hosts_add(ip.ptr(), name.ptr(), comment.ptr());
    if (!refusal.empty()) {
        expect_result("hosts_add", rc, -1, refusal);
        return;
    }
    expect_result("hosts_add", rc, static_cast<int>(m.size()), "");
    bool has_comment = !comment.value.empty();
    m.push_back({ip.value, name.value, 1, comment.value, has_comment ? 1 : 0});
    check_record(rc);
}

bool in_range(int index, const model &m) {
    return index >= 0 && static_cast<std::size_t>(index) < m.size();
}

void do_enable(input &in, model &m) {
    int index = in.number();
    int enabled = in.number();
    int rc = hosts_set_enabled(index, enabled);
    if (!in_range(index, m)) {
        expect_result("hosts_set_enabled", rc, -1, range_error(index, m.size()));
        return;
    }
    expect_result("hosts_set_enabled", rc, 1, "");
    m[static_cast<std::size_t>(index)].enabled = enabled != 0 ? 1 : 0;
}

void do_remove(input &in, model &m) {
    int index = in.number();
    int rc = hosts_remove(index);
    if (!in_range(index, m)) {
        expect_result("hosts_remove", rc, -1, range_error(index, m.size()));
        return;
    }
    expect_result("hosts_remove", rc, 1, "");
    m.erase(m.begin() + index);
}

void do_save_and_load(model &m) {
    expect_saved("hosts_save");
    expect_success(hosts_load(), "hosts_load");
    model_save_and_load(m);
    for (int i = 0; i < s_rec_count; ++i)
        check_record(i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string &path = scratch_hosts();
    write_file(path, k_start_file, sizeof k_start_file - 1);
    expect_success(hosts_load(), "hosts_load of the start file");
    model m = k_start_records;
    expect_table(m, "loading the start file");

    static const char *const k_op_names[] = {"add", "enable", "remove", "save and load"};
    input in(data, size);
    while (!in.empty()) {
        std::uint8_t op = in.byte() % 4;
        switch (op) {
            case 0:
                do_add(in, m);
                break;
            case 1:
                do_enable(in, m);
                break;
            case 2:
                do_remove(in, m);
                break;
            default:
                do_save_and_load(m);
                break;
        }
        expect_table(m, k_op_names[op]);
    }
    return 0;
}
