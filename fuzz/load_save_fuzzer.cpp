// Any bytes as a hosts file: loading must give well-formed records with
// strict JSON views, the first save must write exactly the lines the
// documented rules make of the input, and loading that back must give the
// same tables and saving again the same bytes. A file holding a NUL byte
// must be refused whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "hosts_internal.h"

namespace {

struct tables {
    std::vector<host_record> records;
    std::vector<std::string> passthrough;
};

tables snapshot() {
    tables t;
    t.records.assign(s_recs, s_recs + s_rec_count);
    t.passthrough.assign(s_pass, s_pass + s_pass_count);
    return t;
}

void check_loaded_tables() {
    if (hosts_count() != s_rec_count)
        fail("hosts_count() is %d, the table holds %d", hosts_count(), s_rec_count);
    for (int i = 0; i < s_rec_count; ++i) {
        check_record(i);
        const host_record &rec = s_recs[i];
        if (rec.enabled != 0 && rec.enabled != 1)
            fail("record %d loaded with enabled %d", i, rec.enabled);
        // The loader keeps a comment exactly when the line had one.
        if ((rec.comment[0] != '\0') != (rec.has_comment != 0))
            fail("record %d has has_comment %d with the comment %s", i, rec.has_comment,
                 shown(rec.comment).c_str());
    }
    for (int i = 0; i < s_pass_count; ++i) {
        const char *line = s_pass[i];
        std::size_t len = std::strlen(line);
        if (len == 0 || line[0] == ' ' || line[0] == '\t' || std::strchr(" \t\r\n", line[len - 1]))
            fail("passthrough line %d is not trimmed: %s", i, shown(line).c_str());
    }
    if (hosts_get(s_rec_count)[0] != '\0' || hosts_last_error()[0] == '\0')
        fail("hosts_get past the last record did not fail");
}

void expect_same(const tables &before, const tables &after) {
    if (before.records.size() != after.records.size())
        fail("%zu records before the save, %zu after", before.records.size(), after.records.size());
    for (std::size_t i = 0; i < before.records.size(); ++i) {
        const host_record &a = before.records[i];
        const host_record &b = after.records[i];
        if (std::strcmp(a.ip, b.ip) != 0 || std::strcmp(a.name, b.name) != 0 ||
            a.enabled != b.enabled || a.has_comment != b.has_comment ||
            std::strcmp(a.comment, b.comment) != 0)
            fail("record %zu changed in a save and load: %s %s %d %s -> %s %s %d %s", i,
                 shown(a.ip).c_str(), shown(a.name).c_str(), a.enabled, shown(a.comment).c_str(),
                 shown(b.ip).c_str(), shown(b.name).c_str(), b.enabled, shown(b.comment).c_str());
    }
    if (before.passthrough != after.passthrough)
        fail("the passthrough lines changed in a save and load (%zu before, %zu after)",
             before.passthrough.size(), after.passthrough.size());
}

// ---- what the first save must write, worked out from the input alone -------
// The rules of docs/behaviour.md ("What is read", "What is written") on whole
// strings; only the address and name checks are the library's own.

const std::size_t k_longest_comment = 1023;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::size_t skip_blanks(const std::string &text, std::size_t pos) {
    while (pos < text.size() && is_blank(text[pos]))
        ++pos;
    return pos;
}

// The blank-separated word at or after `pos`, or "" at the end; moves `pos` past it.
std::string next_word(const std::string &text, std::size_t &pos) {
    std::size_t start = skip_blanks(text, pos);
    pos = start;
    while (pos < text.size() && !is_blank(text[pos]))
        ++pos;
    return text.substr(start, pos - start);
}

std::string trimmed(const std::string &line) {
    std::size_t start = skip_blanks(line, 0);
    std::size_t end = line.size();
    while (end > start && (is_blank(line[end - 1]) || line[end - 1] == '\r'))
        --end;
    return line.substr(start, end - start);
}

std::string record_line(bool enabled, const std::string &ip, const std::string &name,
                        const std::string &comment) {
    return (enabled ? "" : "# ") + ip + " " + name + (comment.empty() ? "" : " # " + comment) +
           "\n";
}

struct expected_file {
    std::string records;
    std::string passthrough;
};

// "# IP NAME" or "# IP NAME # COMMENT" is a disabled record.
bool model_commented(const std::string &line, expected_file &out) {
    std::size_t pos = 1;
    std::string ip = next_word(line, pos);
    std::string name = next_word(line, pos);
    if (!valid_ip(ip.c_str()) || !valid_name(name.c_str()))
        return false;
    std::string rest = line.substr(skip_blanks(line, pos));
    std::string comment;
    if (!rest.empty()) {
        if (rest[0] != '#')
            return false;
        comment = rest.substr(skip_blanks(rest, 1));
    }
    if (comment.size() > k_longest_comment)
        return false;
    out.records += record_line(false, ip, name, comment);
    return true;
}

// "IP NAME [NAME...] [# COMMENT]" is one enabled record per name.
bool model_active(const std::string &line, expected_file &out) {
    std::size_t hash = line.find('#');
    std::string entry = line.substr(0, hash);
    std::string comment = hash == std::string::npos ? "" : line.substr(skip_blanks(line, hash + 1));
    std::size_t pos = 0;
    std::string ip = next_word(entry, pos);
    std::vector<std::string> names;
    for (std::string name = next_word(entry, pos); !name.empty(); name = next_word(entry, pos))
        names.push_back(name);
    if (!valid_ip(ip.c_str()) || names.empty() || comment.size() > k_longest_comment)
        return false;
    for (const std::string &name : names) {
        if (!valid_name(name.c_str()))
            return false;
    }
    for (const std::string &name : names)
        out.records += record_line(true, ip, name, comment);
    return true;
}

// All records in the order read, then every other non-blank line, trimmed.
std::string expected_save(const std::string &input) {
    expected_file out;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string::npos)
            end = input.size();
        std::string line = trimmed(input.substr(start, end - start));
        start = end + 1;
        if (line.empty())
            continue;
        bool is_record = line[0] == '#' ? model_commented(line, out) : model_active(line, out);
        if (!is_record)
            out.passthrough += line + "\n";
    }
    return out.records + out.passthrough;
}

void expect_first_save(const std::string &input, const std::string &saved) {
    const std::string expected = expected_save(input);
    if (saved == expected)
        return;
    std::size_t at = 0;
    while (at < saved.size() && at < expected.size() && saved[at] == expected[at])
        ++at;
    std::size_t line_start = expected.rfind('\n', at == 0 ? 0 : at - 1);
    line_start = line_start == std::string::npos || at == 0 ? 0 : line_start + 1;
    fail(
        "the first save wrote %zu bytes, the rules give %zu; from byte %zu the save has %s, "
        "the rules %s",
        saved.size(), expected.size(), line_start, shown(saved.substr(line_start, 80)).c_str(),
        shown(expected.substr(line_start, 80)).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string &path = scratch_hosts();
    write_file(path, data, size);

    // A file holding a NUL byte is refused whole, leaving empty tables.
    if (std::memchr(data, '\0', size) != nullptr) {
        const std::string refused =
            "cannot read " + path + ": it holds NUL bytes (UTF-16 or not a text file)";
        if (hosts_load() != -1 || refused != hosts_last_error() || s_rec_count != 0 ||
            s_pass_count != 0)
            fail("a file with a NUL byte gave: %s", shown(hosts_last_error()).c_str());
        return 0;
    }
    expect_success(hosts_load(), "hosts_load");
    check_loaded_tables();
    tables first = snapshot();
    expect_saved("hosts_save");
    std::string saved = read_file(path);
    // Nothing of the input is lost: the save writes exactly what the rules
    // make of it.
    expect_first_save(std::string(reinterpret_cast<const char *>(data), size), saved);

    expect_success(hosts_load(), "hosts_load of the saved file");
    check_loaded_tables();
    expect_same(first, snapshot());
    expect_saved("hosts_save of the reloaded file");
    std::string saved_again = read_file(path);
    if (saved != saved_again)
        fail("a second save changed the file: %zu bytes, then %zu bytes", saved.size(),
             saved_again.size());
    return 0;
}
