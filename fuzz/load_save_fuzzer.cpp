// Any bytes as a hosts file: loading must give well-formed records with
// strict JSON views, and one save must normalise the file so that loading
// it back gives the same tables and saving again writes the same bytes. A
// file holding a NUL byte must be refused whole.
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
